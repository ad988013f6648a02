set(USBPROBE_TARGET_TRIPLET aarch64-linux-gnu)
set(USBPROBE_TARGET_PROCESSOR aarch64)
set(USBPROBE_TARGET_EMULATOR qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
