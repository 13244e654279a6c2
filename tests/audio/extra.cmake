# Whole-path sound checks: the engine writes sound-only SWF movies and FFmpeg (the `ffmpeg`
# command) decodes them back. Test sounds are generated into the build folder at test time.
# The sound stream's source is compiled in directly, so that these run without the rest of
# the Transport.
if(QUILLON_E2E_TESTS AND TARGET quillon_audio)
  add_executable(audio_e2e_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/audio/sound_swf_e2e.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/audio/sound_swf_writer.cpp
    ${PROJECT_SOURCE_DIR}/src/swf/transport/sound_stream.cpp)
  target_link_libraries(audio_e2e_tests PRIVATE quillon_audio GTest::gtest GTest::gtest_main)
  target_include_directories(audio_e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio)
  target_compile_definitions(audio_e2e_tests PRIVATE
    QUILLON_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}"
    QUILLON_PROGRAM="$<TARGET_FILE:quillon>")
  # One case runs the whole program, which must find its presets.
  add_dependencies(audio_e2e_tests quillon quillon_presets)
  gtest_discover_tests(audio_e2e_tests TEST_PREFIX "e2e." DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS e2e TIMEOUT 300)
endif()
