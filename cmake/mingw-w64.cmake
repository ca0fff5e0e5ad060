# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, so that
# std::thread and std::mutex work). Binaries link libgcc, libstdc++ and winpthread statically
# and need no DLL beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MENUTIP_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MENUTIP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MENUTIP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MENUTIP_MINGW_PREFIX}-windres)
set(CMAKE_AR ${MENUTIP_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${MENUTIP_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MENUTIP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes libwinpthread's archive too, so std::thread needs no DLL either.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Unicode Win32 API and Windows 7 as the oldest target (LoadLibraryExW's search flags).
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# Tests run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
