# Cross-building for 64-bit Windows on Debian with mingw-w64 (the posix thread
# model, which Qt's MinGW builds use). The Qt for Windows is the folder named by
# QT_MINGW_PREFIX (a CMake variable or the environment); its host tools (moc, rcc,
# uic) are Debian's own of the same version, from qt6-base-dev-tools.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(EG_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${EG_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${EG_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${EG_MINGW}-windres)
set(CMAKE_AR /usr/bin/${EG_MINGW}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${EG_MINGW}-ranlib CACHE FILEPATH "")
if(NOT QT_MINGW_PREFIX AND DEFINED ENV{QT_MINGW_PREFIX})
  set(QT_MINGW_PREFIX "$ENV{QT_MINGW_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${EG_MINGW} ${QT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
# Test programs run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine CACHE FILEPATH "")
