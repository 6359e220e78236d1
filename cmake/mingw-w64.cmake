# Cross-build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Produces cardfs.dll with its import library cardfs.dll.a and the export
# file cardfs.def, kvwin32.dll, and the example hosts and tests as .exe files,
# all in build-windows/bin/. The Windows block of CMakeLists.txt adds the
# rest (names without the "lib" prefix, the compiler's runtime linked in
# statically, tests run under Wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CARDFS_MINGW_TRIPLET x86_64-w64-mingw32)

# The posix thread model: GoogleTest needs std::mutex, which GCC 12's win32
# model lacks. Its thread library is linked in statically like the rest of
# the compiler's runtime (-static, in the Windows block of CMakeLists.txt).
find_program(CMAKE_C_COMPILER NAMES ${CARDFS_MINGW_TRIPLET}-gcc-posix ${CARDFS_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CARDFS_MINGW_TRIPLET}-g++-posix ${CARDFS_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CARDFS_MINGW_TRIPLET}-windres)
find_program(CARDFS_MINGW_OBJDUMP NAMES ${CARDFS_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${CARDFS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
