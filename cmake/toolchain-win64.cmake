# 64-bit Windows user mode, for running the Win32 tests on machines whose
# kernel cannot execute 32-bit programs (Wine's 32-bit loader then fails with
# "Exec format error"). The same sources as the win32 flavour, built for
# x86-64 and run under Wine's 64-bit loader; Kelm.exe itself stays 32-bit.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(VH_FLAVOUR win32 CACHE STRING "" FORCE)
