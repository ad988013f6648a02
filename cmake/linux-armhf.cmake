set(USBPROBE_TARGET_TRIPLET arm-linux-gnueabihf)
set(USBPROBE_TARGET_PROCESSOR arm)
set(USBPROBE_TARGET_EMULATOR qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
