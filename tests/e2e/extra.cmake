# Whole-file tests: a program writes SWF output into a fresh folder, then a node script in
# this folder reads it with independent tools (swf-parser, the Ruffle player).
#
#   quillon_e2e_node_test(<name> SCRIPT <script.mjs>
#                         [COMMAND <program> <args>...] [ARGS <script args>...]
#                         [TIMEOUT <seconds>] [LABELS <labels>...])
#
# COMMAND may use generator expressions ($<TARGET_FILE:quillon>) and the placeholder
# @OUTPUT_DIR@, the test's own empty output folder; the node script gets that folder as its
# first argument, then ARGS (generator expressions allowed). The test is labelled e2e.
find_program(QUILLON_NODE node)

function(quillon_e2e_node_test name)
  cmake_parse_arguments(ARG "" "SCRIPT;TIMEOUT" "COMMAND;ARGS;LABELS" ${ARGN})
  if(NOT QUILLON_NODE)
    message(STATUS "node not found: e2e test ${name} not registered")
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(out "${PROJECT_BINARY_DIR}/e2e/${name}")
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${ARG_SCRIPT}")
  set(driver "${PROJECT_BINARY_DIR}/e2e/${name}.cmake")
  set(run "")
  set(script_args "")
  foreach(arg IN LISTS ARG_ARGS)
    string(APPEND script_args " \"${arg}\"")
  endforeach()
  if(ARG_COMMAND)
    list(TRANSFORM ARG_COMMAND REPLACE "@OUTPUT_DIR@" "${out}")
    set(cmd "")
    foreach(arg IN LISTS ARG_COMMAND)
      string(APPEND cmd " \"${arg}\"")
    endforeach()
    string(APPEND run "execute_process(COMMAND${cmd} RESULT_VARIABLE rc)\n"
                      "if(NOT rc EQUAL 0)\n"
                      "  message(FATAL_ERROR \"writer failed: \${rc}\")\n"
                      "endif()\n")
  endif()
  file(GENERATE OUTPUT "${driver}" CONTENT
"file(REMOVE_RECURSE \"${out}\")
file(MAKE_DIRECTORY \"${out}\")
${run}execute_process(COMMAND \"${QUILLON_NODE}\" \"${script}\" \"${out}\"${script_args}
                WORKING_DIRECTORY \"${CMAKE_CURRENT_FUNCTION_LIST_DIR}\" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR \"check failed: \${rc}\")
endif()
")
  add_test(NAME e2e_${name} COMMAND ${CMAKE_COMMAND} -P "${driver}")
  set_tests_properties(e2e_${name} PROPERTIES LABELS "e2e;${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

if(TARGET quillon_swf)
  add_executable(swf_sample_writer ${CMAKE_CURRENT_LIST_DIR}/swf_sample_writer.cpp)
  target_link_libraries(swf_sample_writer PRIVATE quillon_swf ZLIB::ZLIB)
  quillon_e2e_node_test(swf_sample SCRIPT check_sample_swf.mjs
    COMMAND $<TARGET_FILE:swf_sample_writer> @OUTPUT_DIR@ TIMEOUT 60)
endif()

# Every kind of movie the program writes, read by tools that know nothing of it.
find_program(QUILLON_E2E_FFPROBE ffprobe)
if(TARGET quillon AND TARGET swf_sample_writer AND QUILLON_E2E_FFPROBE)
  quillon_e2e_node_test(outputs SCRIPT outputs_check.mjs
    ARGS $<TARGET_FILE:quillon> $<TARGET_FILE:swf_sample_writer> TIMEOUT 300)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/player.cmake)
