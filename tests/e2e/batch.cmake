# Whole-program tests of batch mode: a GoogleTest executable that runs the built quillon on
# generated clips. Labelled e2e, so the sanitizer pass of the CI leaves them out.
if(QUILLON_E2E_TESTS AND TARGET quillon AND TARGET quillon_swf)
  add_executable(batch_e2e_tests ${CMAKE_CURRENT_LIST_DIR}/batch_test.cpp)
  target_link_libraries(batch_e2e_tests PRIVATE quillon_swf GTest::gtest GTest::gtest_main)
  target_compile_definitions(batch_e2e_tests PRIVATE
    QUILLON_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}"
    QUILLON_PROGRAM="$<TARGET_FILE:quillon>")
  add_dependencies(batch_e2e_tests quillon quillon_presets)
  gtest_discover_tests(batch_e2e_tests DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS e2e TIMEOUT 600)
endif()
