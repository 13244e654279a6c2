# Real-player tests: movies played in Ruffle inside headless Chromium, the final stage compared
# with the source. Each case is one CTest labelled e2e; they need node, chromium and ffmpeg.
find_program(QUILLON_PLAYER_CHROMIUM chromium PATHS /usr/bin NO_DEFAULT_PATH)
find_program(QUILLON_PLAYER_FFMPEG ffmpeg)
if(TARGET quillon_swf AND TARGET quillon AND QUILLON_NODE AND QUILLON_PLAYER_CHROMIUM
   AND QUILLON_PLAYER_FFMPEG)
  add_executable(player_movie_writer ${CMAKE_CURRENT_LIST_DIR}/player/player_movie_writer.cpp)
  target_link_libraries(player_movie_writer PRIVATE quillon_swf)

  set(player_cases harness still moving flat zlib32 zlib8 resize_hv mirrored resize_back
                   memory_on memory_off overlay parts link screen)
  foreach(name IN LISTS player_cases)
    add_test(NAME e2e_player_${name}
             COMMAND ${QUILLON_NODE} ${CMAKE_CURRENT_LIST_DIR}/player/run_case.mjs ${name}
                     ${PROJECT_BINARY_DIR}/e2e/player/${name} $<TARGET_FILE:quillon>
                     $<TARGET_FILE:player_movie_writer>
             WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/player)
    # Serial: two browsers at once on a two-core machine starve the encoder tests beside them.
    set_tests_properties(e2e_player_${name} PROPERTIES LABELS "e2e;player" TIMEOUT 240
                         RESOURCE_LOCK quillon_player)
  endforeach()
else()
  message(STATUS "node, chromium or ffmpeg missing: player tests not registered")
endif()
