# Cross compilation for Windows with Debian's mingw-w64 (POSIX thread model).
# Included by the toolchain file cmake/PRESET.cmake of each Windows preset,
# whose row in the map of the builds (cmake/targets.txt) gives the triplet.
get_filename_component(preset ${CMAKE_PARENT_LIST_FILE} NAME_WE)
include(${CMAKE_CURRENT_LIST_DIR}/Targets.cmake)
usbprobe_target(${preset} triplet USBPROBE_TARGET_TRIPLET)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${USBPROBE_TARGET_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${USBPROBE_TARGET_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${USBPROBE_TARGET_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${USBPROBE_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
