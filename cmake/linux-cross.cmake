# Cross compilation for Linux with Debian's cross compilers, against the target
# architecture's libraries installed beside the host's (multiarch). Included by
# the toolchain file cmake/PRESET.cmake of each preset, whose row in the map of
# the builds (cmake/targets.txt) gives the processor, the compiler's triplet and
# the qemu-user program that runs the target's code here, without binfmt_misc;
# none where the including file sets USBPROBE_TARGET_RUNS_HERE.
get_filename_component(preset ${CMAKE_PARENT_LIST_FILE} NAME_WE)
include(${CMAKE_CURRENT_LIST_DIR}/Targets.cmake)
usbprobe_target(${preset} triplet USBPROBE_TARGET_TRIPLET)
usbprobe_target(${preset} processor processor)
usbprobe_target(${preset} qemu_user emulator)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${processor})
set(CMAKE_C_COMPILER ${USBPROBE_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${USBPROBE_TARGET_TRIPLET}-g++)
if(NOT emulator STREQUAL "-" AND NOT USBPROBE_TARGET_RUNS_HERE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator})
endif()
# The target's .pc files only, never the host's.
execute_process(COMMAND dpkg-architecture -t${USBPROBE_TARGET_TRIPLET} -qDEB_HOST_MULTIARCH
                OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${multiarch}/pkgconfig:/usr/share/pkgconfig)
