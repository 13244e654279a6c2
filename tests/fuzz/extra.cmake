# The fuzz targets of the program's readers. Each is built with clang's libFuzzer by a custom
# command straight from the few sources it needs, so the GCC build and its flags stay as they
# are, and run for a bounded time as a CTest of the label "fuzz" by run_fuzz.cmake.
find_program(QUILLON_CLANGXX NAMES clang++-14 clang++)
if(QUILLON_CLANGXX)
  set(fuzz_src ${PROJECT_SOURCE_DIR}/src)
  set(fuzz_dir ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)

  # quillon_add_fuzzer(<name> SOURCES <files> HEADERS <files> [LIBS <flags>]
  #                    [SEEDS <target>] [SEED_DIR <folder>] [DICT <file>] [TIME <s>] [MAX_LEN <n>])
  # Builds <name>_fuzzer and registers the test <name>_fuzz, seeded by the corpus the SEEDS
  # program writes and the files of SEED_DIR.
  function(quillon_add_fuzzer name)
    cmake_parse_arguments(ARG "" "SEEDS;SEED_DIR;DICT;TIME;MAX_LEN" "SOURCES;HEADERS;LIBS" ${ARGN})
    set(binary ${CMAKE_CURRENT_BINARY_DIR}/fuzz/${name}_fuzzer)
    add_custom_command(
      OUTPUT ${binary}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/fuzz
      COMMAND ${QUILLON_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
              -fno-sanitize-recover=undefined -I${fuzz_src} ${ARG_SOURCES} ${ARG_LIBS}
              -o ${binary}
      DEPENDS ${ARG_SOURCES} ${ARG_HEADERS}
      COMMENT "Building the ${name} fuzzer with clang"
      VERBATIM)
    add_custom_target(${name}_fuzzer ALL DEPENDS ${binary})

    set(args -DNAME=${name} -DFUZZER=${binary} -DWORK=${CMAKE_CURRENT_BINARY_DIR}/fuzz/${name}_work)
    if(ARG_SEEDS)
      list(APPEND args -DSEEDS=$<TARGET_FILE:${ARG_SEEDS}>)
    endif()
    if(ARG_SEED_DIR)
      list(APPEND args -DSEED_DIR=${ARG_SEED_DIR})
    endif()
    if(ARG_DICT)
      list(APPEND args -DDICT=${ARG_DICT})
    endif()
    if(ARG_TIME)
      list(APPEND args -DTIME=${ARG_TIME})
    endif()
    if(ARG_MAX_LEN)
      list(APPEND args -DMAX_LEN=${ARG_MAX_LEN})
    endif()
    add_test(NAME ${name}_fuzz COMMAND ${CMAKE_COMMAND} ${args} -P ${fuzz_dir}/run_fuzz.cmake)
    set_tests_properties(${name}_fuzz PROPERTIES LABELS fuzz TIMEOUT 120)
  endfunction()

  # The preloader reader: a successful read leaves a well-formed tag sequence.
  add_executable(preloader_fuzz_seeds ${fuzz_dir}/preloader_seeds.cpp)
  target_link_libraries(preloader_fuzz_seeds PRIVATE quillon_swf ZLIB::ZLIB)
  quillon_add_fuzzer(preloader
    SOURCES ${fuzz_dir}/preloader_fuzzer.cpp ${fuzz_src}/swf/transport/preloader_movie.cpp
            ${fuzz_src}/swf/byte_buffer.cpp ${fuzz_src}/swf/bit_accumulator.cpp
            ${fuzz_src}/settings/paths.cpp
    HEADERS ${fuzz_src}/swf/transport/preloader_movie.h ${fuzz_src}/swf/byte_buffer.h
            ${fuzz_src}/swf/bit_accumulator.h ${fuzz_src}/swf/swf_writer.h
            ${fuzz_src}/swf/swf_records.h ${fuzz_src}/swf/tag_code.h ${fuzz_src}/settings/paths.h
    LIBS -lz
    SEEDS preloader_fuzz_seeds TIME 20)

  # The settings reader and writer: a save of what was read reads back the same.
  add_executable(settings_fuzz_seeds ${fuzz_dir}/settings_seeds.cpp)
  target_link_libraries(settings_fuzz_seeds PRIVATE quillon_settings)
  quillon_add_fuzzer(settings
    SOURCES ${fuzz_dir}/settings_fuzzer.cpp ${fuzz_src}/settings/settings_file.cpp
            ${fuzz_src}/settings/encoder_settings.cpp
    HEADERS ${fuzz_src}/settings/settings_file.h ${fuzz_src}/settings/encoder_settings.h
    SEEDS settings_fuzz_seeds SEED_DIR ${PROJECT_SOURCE_DIR}/presets
    DICT ${fuzz_dir}/settings.dict TIME 12 MAX_LEN 8192)

  # The batch command line, with the log kept in memory (option values name arbitrary files).
  add_executable(batch_fuzz_seeds ${fuzz_dir}/batch_seeds.cpp)
  quillon_add_fuzzer(batch
    SOURCES ${fuzz_dir}/batch_fuzzer.cpp ${fuzz_dir}/batch_log_recorder.cpp
            ${fuzz_src}/encoder/batch_command.cpp ${fuzz_src}/encoder/destination_name.cpp
            ${fuzz_src}/settings/paths.cpp
    HEADERS ${fuzz_dir}/batch_log_recorder.h ${fuzz_src}/encoder/batch_command.h
            ${fuzz_src}/encoder/destination_name.h
            ${fuzz_src}/encoder/batch_log.h ${fuzz_src}/settings/encoder_settings.h
            ${fuzz_src}/settings/paths.h
    SEEDS batch_fuzz_seeds DICT ${fuzz_dir}/batch.dict TIME 12 MAX_LEN 1024)

  # The sound stream's MP3 reading. The AudioStore would bring FFmpeg and the encoder library,
  # so audio_store_feed.cpp stands in for the operations the stream calls, with the fuzz input
  # as the encoder's output.
  add_executable(sound_stream_fuzz_seeds ${fuzz_dir}/sound_stream_seeds.cpp)
  quillon_add_fuzzer(sound_stream
    SOURCES ${fuzz_dir}/sound_stream_fuzzer.cpp ${fuzz_dir}/audio_store_feed.cpp
            ${fuzz_src}/swf/transport/sound_stream.cpp ${fuzz_src}/audio/mp3_ahead_encoder.cpp
            ${fuzz_src}/swf/swf_writer.cpp
            ${fuzz_src}/swf/byte_buffer.cpp ${fuzz_src}/swf/bit_accumulator.cpp
            ${fuzz_src}/settings/trace.cpp ${fuzz_src}/audio/audio_reader.cpp
    HEADERS ${fuzz_dir}/audio_store_feed.h ${fuzz_src}/swf/transport/sound_stream.h
            ${fuzz_src}/audio/mp3_ahead_encoder.h
            ${fuzz_src}/audio/audio_store.h ${fuzz_src}/audio/audio_reader.h
            ${fuzz_src}/audio/adpcm_encoder.h ${fuzz_src}/audio/mp3_encoder_library.h
            ${fuzz_src}/swf/swf_writer.h ${fuzz_src}/swf/byte_buffer.h ${fuzz_src}/swf/bit_accumulator.h
            ${fuzz_src}/swf/swf_records.h ${fuzz_src}/swf/tag_code.h ${fuzz_src}/settings/trace.h
            ${fuzz_src}/settings/encoder_settings.h
    SEEDS sound_stream_fuzz_seeds TIME 12 MAX_LEN 8192)
else()
  message(STATUS "clang++ not found: the fuzz targets are not built")
endif()
