# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (the POSIX thread model,
# so std::thread and std::mutex work). The C and C++ run-times and winpthread are linked
# statically: the programs need only the DLLs every Windows has.
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake -DZOR_WINDOWS_DEPS=<deps folder>
#
# ZOR_WINDOWS_DEPS names the folder where scripts/windows-deps.sh installed the libraries
# built for Windows (GoogleTest, libsodium, libdeflate); zlib comes from libz-mingw-w64-dev.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(zor_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${zor_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${zor_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${zor_mingw}-windres)
set(CMAKE_AR ${zor_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${zor_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

set(ZOR_WINDOWS_DEPS "" CACHE PATH "Folder of the libraries built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${zor_mingw} ${ZOR_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks only at the Windows libraries, never at this system's.
set(ENV{PKG_CONFIG_LIBDIR} "${ZOR_WINDOWS_DEPS}/lib/pkgconfig:/usr/${zor_mingw}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Only prefer static archives: the programs carry their libraries.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .lib)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 10 and later: the API level the platform body is written against.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE
                        WIN32_LEAN_AND_MEAN NOMINMAX)

# The tests run under Wine on this machine (ctest and the test discovery alike).
find_program(ZOR_WINE NAMES wine wine64)
if(ZOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZOR_WINE})
endif()
set(ZLIB_USE_STATIC_LIBS ON)
