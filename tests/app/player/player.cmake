# The Encoded Flash page playing encoded movies: the widget with Qt WebEngine and Ruffle on the
# offscreen platform. Labelled e2e: they need ffmpeg, Ruffle beside the program and a few
# hundred megabytes for the web engine.
find_program(QUILLON_APP_PLAYER_FFMPEG ffmpeg)
find_package(Qt6 COMPONENTS Test)
if(QUILLON_E2E_TESTS AND TARGET quillon_ruffle AND TARGET Qt6::Test AND QUILLON_APP_PLAYER_FFMPEG)
  add_executable(app_player_tests ${CMAKE_CURRENT_LIST_DIR}/flash_preview_player_test.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/../app_test_main.cpp)
  set_target_properties(app_player_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(app_player_tests PRIVATE quillon_app Qt6::Test GTest::gtest)
  target_include_directories(app_player_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(app_player_tests PRIVATE
    QUILLON_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}"
    QUILLON_PROGRAM="$<TARGET_FILE:quillon>")
  add_dependencies(app_player_tests quillon quillon_presets quillon_ruffle)
  # Serial with the other player tests: two players at once starve a two-core machine.
  gtest_discover_tests(app_player_tests DISCOVERY_TIMEOUT 60 TEST_LIST quillon_app_player_tests
    PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen" RESOURCE_LOCK quillon_player)
  # The discovery script spreads a list-valued property over the following ones, so the two
  # labels are set by a script of our own that ctest reads after the discovered tests. The
  # player's page runs its timers and drawing on a starved thread when other tests share the
  # two cores, so these run alone.
  set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/app_player_labels.cmake)
  file(WRITE ${labels_script}
    "foreach(test IN LISTS quillon_app_player_tests)\n"
    "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"e2e;player\" RUN_SERIAL TRUE)\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
endif()

# Ruffle names its menu items in the user's language: the buttons must work on a German desktop.
if(TARGET app_player_tests)
  add_test(NAME FlashPreviewPlayerTest.ButtonsOnAGermanDesktop
           COMMAND app_player_tests --gtest_filter=FlashPreviewPlayerTest.PlaysStopsStepsAndRewinds)
  set_tests_properties(FlashPreviewPlayerTest.ButtonsOnAGermanDesktop PROPERTIES
    TIMEOUT 300 LABELS "e2e;player" RESOURCE_LOCK quillon_player RUN_SERIAL TRUE
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=de_DE.UTF-8;LC_ALL=de_DE.UTF-8;LANGUAGE=de")
endif()
