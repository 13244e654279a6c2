# The preloader reader's fuzz target. It is built with clang's libFuzzer by a custom command
# straight from the few sources it needs, so the GCC build and its flags stay as they are.
find_program(QUILLON_CLANGXX NAMES clang++-14 clang++)
if(QUILLON_CLANGXX)
  set(fuzz_src ${PROJECT_SOURCE_DIR}/src)
  set(fuzz_sources
      ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/preloader_fuzzer.cpp
      ${fuzz_src}/swf/transport/preloader_movie.cpp
      ${fuzz_src}/swf/byte_buffer.cpp
      ${fuzz_src}/swf/bit_accumulator.cpp
      ${fuzz_src}/settings/paths.cpp)
  set(fuzz_headers
      ${fuzz_src}/swf/transport/preloader_movie.h
      ${fuzz_src}/swf/byte_buffer.h
      ${fuzz_src}/swf/bit_accumulator.h
      ${fuzz_src}/swf/swf_writer.h
      ${fuzz_src}/swf/swf_records.h
      ${fuzz_src}/swf/tag_code.h
      ${fuzz_src}/settings/paths.h)
  set(preloader_fuzzer ${CMAKE_CURRENT_BINARY_DIR}/fuzz/preloader_fuzzer)
  add_custom_command(
    OUTPUT ${preloader_fuzzer}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/fuzz
    COMMAND ${QUILLON_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined -I${fuzz_src} ${fuzz_sources} -lz
            -o ${preloader_fuzzer}
    DEPENDS ${fuzz_sources} ${fuzz_headers}
    COMMENT "Building the preloader fuzzer with clang"
    VERBATIM)
  add_custom_target(preloader_fuzzer ALL DEPENDS ${preloader_fuzzer})

  add_executable(preloader_fuzz_seeds ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/preloader_seeds.cpp)
  target_link_libraries(preloader_fuzz_seeds PRIVATE quillon_swf ZLIB::ZLIB)

  add_test(NAME preloader_fuzz
           COMMAND ${CMAKE_COMMAND} -DSEEDS=$<TARGET_FILE:preloader_fuzz_seeds>
                   -DFUZZER=${preloader_fuzzer} -DWORK=${CMAKE_CURRENT_BINARY_DIR}/fuzz/work
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run_fuzz.cmake)
  set_tests_properties(preloader_fuzz PROPERTIES LABELS fuzz TIMEOUT 120)
else()
  message(STATUS "clang++ not found: the preloader fuzz target is not built")
endif()
