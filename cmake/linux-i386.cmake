# An x86-64 machine runs i386 code itself: no emulator.
set(USBPROBE_TARGET_TRIPLET i686-linux-gnu)
set(USBPROBE_TARGET_PROCESSOR i686)
set(USBPROBE_TARGET_EMULATOR "")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
