# Cross compilation for Windows with Debian's mingw-w64 (POSIX thread model).
# Included by the per-architecture toolchain files, which set USBPROBE_TARGET_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${USBPROBE_TARGET_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${USBPROBE_TARGET_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${USBPROBE_TARGET_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${USBPROBE_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# libusb needs Windows Vista (6.0) or later: say so in every exe's PE header,
# so that an older Windows refuses the exe outright instead of failing on a
# missing entry point.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,--major-os-version=6,--minor-os-version=0,--major-subsystem-version=6,--minor-subsystem-version=0")
