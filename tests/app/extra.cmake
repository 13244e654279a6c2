# The desktop application's tests: one executable with its own main (a QApplication on the
# offscreen platform, preferences redirected to a temporary folder).
if(TARGET quillon_app)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  file(GLOB app_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*_test.cpp)
  add_executable(app_tests ${app_test_sources} ${CMAKE_CURRENT_SOURCE_DIR}/app/app_test_main.cpp)
  set_target_properties(app_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(app_tests PRIVATE quillon_app Qt6::Test GTest::gtest GTest::gmock)
  target_include_directories(app_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(app_tests PRIVATE
    QUILLON_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}"
    QUILLON_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUILLON_PROGRAM="$<TARGET_FILE:quillon>")
  add_dependencies(app_tests quillon quillon_presets quillon_app_files)
  gtest_discover_tests(app_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 600 LABELS app ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  include(${CMAKE_CURRENT_SOURCE_DIR}/app/player/player.cmake)
endif()

# The screenshot driver of scripts/screenshots (not a test).
if(TARGET quillon_app)
  add_executable(app_screenshots ${CMAKE_CURRENT_SOURCE_DIR}/app/window_screenshots.cpp)
  set_target_properties(app_screenshots PROPERTIES EXCLUDE_FROM_ALL ON)
  target_link_libraries(app_screenshots PRIVATE quillon_app Qt6::Test)
endif()
