# Cross build for 32-bit Windows with the mingw-w64 i686 toolchain (the
# product). The posix thread model, as for the x86-64 build: the runtime
# libraries are linked statically either way.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QV_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
