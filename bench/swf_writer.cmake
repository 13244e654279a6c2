# Stream writer throughput: shape records and header normalisation.
if(TARGET quillon_swf AND benchmark_FOUND)
  add_executable(swf_writer_bench ${CMAKE_CURRENT_LIST_DIR}/swf_writer_bench.cpp)
  target_link_libraries(swf_writer_bench PRIVATE quillon_swf benchmark::benchmark_main)
endif()
