# Cross toolchain for the 64-bit Windows deliverables (MinGW-w64, run under Wine's 64-bit
# loader in tests), for 64-bit image editors.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
