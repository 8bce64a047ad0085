# Cross build for 64-bit Windows with the mingw-w64 x86-64 toolchain: a
# second target of the same source, tested under wine64 where a machine
# cannot execute 32-bit programs. It must give the i686 DLL's samples.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QV_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
