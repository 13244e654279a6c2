# Whole-file checks of the Transport: synthetic clips encoded by transport_clip_writer, then
# read back by swf-parser in transport_check.mjs. Included from tests/transport/extra.cmake.
if(TARGET quillon_transport)
  add_executable(transport_clip_writer
    ${CMAKE_CURRENT_LIST_DIR}/transport_clip_writer.cpp
    ${PROJECT_SOURCE_DIR}/tests/transport/synthetic_clip_testing.cpp)
  target_link_libraries(transport_clip_writer PRIVATE quillon_transport)
  target_include_directories(transport_clip_writer PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(transport_clip_writer PRIVATE
    QUILLON_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}")

  find_program(QUILLON_TRANSPORT_NODE node)
  if(QUILLON_E2E_TESTS AND QUILLON_TRANSPORT_NODE)
    set(out "${PROJECT_BINARY_DIR}/e2e/transport_clips")
    set(driver "${PROJECT_BINARY_DIR}/e2e/transport_clips.cmake")
    file(GENERATE OUTPUT "${driver}" CONTENT
"file(REMOVE_RECURSE \"${out}\")
file(MAKE_DIRECTORY \"${out}\")
execute_process(COMMAND \"$<TARGET_FILE:transport_clip_writer>\" \"${out}\" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR \"writer failed: \${rc}\")
endif()
execute_process(COMMAND \"${QUILLON_TRANSPORT_NODE}\" \"${CMAKE_CURRENT_LIST_DIR}/transport_check.mjs\" \"${out}\"
                WORKING_DIRECTORY \"${CMAKE_CURRENT_LIST_DIR}\" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR \"check failed: \${rc}\")
endif()
")
    add_test(NAME e2e_transport_clips COMMAND ${CMAKE_COMMAND} -P "${driver}")
    set_tests_properties(e2e_transport_clips PROPERTIES LABELS "e2e" TIMEOUT 120)
  endif()
endif()
