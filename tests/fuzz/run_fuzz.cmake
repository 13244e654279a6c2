# A short fuzz pass of the preloader reader from a freshly written seed corpus.
# Expects SEEDS (seed writer), FUZZER (libFuzzer binary) and WORK (scratch folder).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
execute_process(COMMAND ${SEEDS} ${WORK}/corpus RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "writing the seed corpus failed: ${rc}")
endif()
execute_process(
  COMMAND ${FUZZER} -runs=200000 -max_total_time=20 -max_len=4096 -artifact_prefix=${WORK}/
          ${WORK}/corpus
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the preloader fuzzer found a fault (artefacts in ${WORK})")
endif()
