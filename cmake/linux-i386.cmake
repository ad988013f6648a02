# An x86-64 machine whose kernel executes 32-bit x86 code runs the i386 tests
# itself. One that refuses it (its kernel logs "32-bit emulation disabled")
# runs them under qemu-user, as the ARM builds do: detected here by running
# the i386 dynamic loader, never assumed. USBPROBE_EMULATE_32BIT_X86=1 in the
# environment acts as if this machine refused it.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE refused OUTPUT_QUIET ERROR_QUIET)
if(NOT refused AND NOT "$ENV{USBPROBE_EMULATE_32BIT_X86}" STREQUAL 1)
  set(USBPROBE_TARGET_RUNS_HERE ON)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
