# Whole-program tests of batch mode: a GoogleTest executable that runs the built quillon on
# generated clips. Labelled e2e, so the sanitizer pass of the CI leaves them out.
if(QUILLON_E2E_TESTS AND TARGET quillon AND TARGET quillon_swf)
  add_executable(batch_e2e_tests ${CMAKE_CURRENT_LIST_DIR}/batch_test.cpp)
  target_link_libraries(batch_e2e_tests PRIVATE quillon_swf GTest::gtest GTest::gtest_main)
  target_include_directories(batch_e2e_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(batch_e2e_tests PRIVATE
    QUILLON_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}"
    QUILLON_PROGRAM="$<TARGET_FILE:quillon>")
  add_dependencies(batch_e2e_tests quillon quillon_presets)
  gtest_discover_tests(batch_e2e_tests DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS e2e TIMEOUT 600)
endif()

# The demo as a user runs it, then its page in headless Chromium through Ruffle.
find_program(QUILLON_BATCH_NODE node)
if(QUILLON_E2E_TESTS AND TARGET quillon AND QUILLON_BATCH_NODE)
  set(demo_out "${PROJECT_BINARY_DIR}/e2e/batch_demo")
  add_test(NAME e2e_batch_demo
    COMMAND ${CMAKE_COMMAND} -E env QUILLON=$<TARGET_FILE:quillon> DEMO_OUT=${demo_out}
            bash -c "scripts/demo && '${QUILLON_BATCH_NODE}' tests/e2e/batch_demo_check.mjs '${demo_out}'"
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  set_tests_properties(e2e_batch_demo PROPERTIES LABELS e2e TIMEOUT 300)
endif()
