# riscv64 is built in Debian 13 (scripts/in-debian13), its first release for
# the architecture, with Debian 13's cross compiler and libraries.
set(USBPROBE_TARGET_TRIPLET riscv64-linux-gnu)
set(USBPROBE_TARGET_PROCESSOR riscv64)
set(USBPROBE_TARGET_EMULATOR qemu-riscv64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
