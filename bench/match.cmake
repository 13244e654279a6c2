# Block matching throughput: MatchFrame on 640 x 360 synthetic scenes.
if(TARGET quillon_match AND benchmark_FOUND)
  add_executable(match_engine_bench ${CMAKE_CURRENT_LIST_DIR}/match_engine_bench.cpp)
  target_include_directories(match_engine_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/match)
  target_link_libraries(match_engine_bench PRIVATE quillon_match benchmark::benchmark_main)
endif()
