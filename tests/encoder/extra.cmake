# Batch mode through the built program.
include(${PROJECT_SOURCE_DIR}/tests/e2e/batch.cmake)
