# The Transport's whole-file checks live with the other node-based checks.
include(${PROJECT_SOURCE_DIR}/tests/e2e/transport.cmake)
