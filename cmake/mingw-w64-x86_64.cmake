# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# so std::thread works). Everything is linked statically: the programs need
# no DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELVAR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELVAR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELVAR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELVAR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELVAR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Header-only nlohmann-json from the host's package (cmake/cross).
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross CACHE PATH "nlohmann-json for the cross build" FORCE)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the test programs through wine; scripts/run-windows-tests.sh
# runs ctest only inside its guarded mount namespace.
find_program(PELVAR_WINE wine)
if(PELVAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELVAR_WINE})
endif()
