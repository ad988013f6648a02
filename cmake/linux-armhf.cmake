set(USBPROBE_TARGET_TRIPLET arm-linux-gnueabihf)
set(USBPROBE_TARGET_PROCESSOR arm)
set(USBPROBE_TARGET_EMULATOR qemu-arm-static)
# Everything here is built with this one compiler, so the note that GCC 7.1
# changed how some arguments are passed does not concern it.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
