# A short fuzz pass of one reader from a freshly made seed corpus.
# Expects NAME (for messages), FUZZER (libFuzzer binary) and WORK (scratch folder); optional
# SEEDS (a program that writes seeds into the folder it is given), SEED_DIR (files copied in as
# seeds), DICT (libFuzzer dictionary), TIME (seconds, default 20) and MAX_LEN (default 4096).
if(NOT DEFINED TIME)
  set(TIME 20)
endif()
if(NOT DEFINED MAX_LEN)
  set(MAX_LEN 4096)
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
if(DEFINED SEEDS)
  execute_process(COMMAND ${SEEDS} ${WORK}/corpus RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "writing the ${NAME} seed corpus failed: ${rc}")
  endif()
endif()
if(DEFINED SEED_DIR)
  file(GLOB seed_files ${SEED_DIR}/*)
  file(COPY ${seed_files} DESTINATION ${WORK}/corpus)
endif()
set(dict_option)
if(DEFINED DICT)
  set(dict_option -dict=${DICT})
endif()
execute_process(
  COMMAND ${FUZZER} -runs=200000 -max_total_time=${TIME} -max_len=${MAX_LEN} ${dict_option}
          -artifact_prefix=${WORK}/ ${WORK}/corpus
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the ${NAME} fuzzer found a fault (artefacts in ${WORK})")
endif()
