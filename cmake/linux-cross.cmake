# Cross compilation for Linux with Debian's cross compilers, against the target
# architecture's libraries installed beside the host's (multiarch). Included by
# the per-architecture toolchain files, which set USBPROBE_TARGET_TRIPLET (the
# compiler's prefix), USBPROBE_TARGET_PROCESSOR, and USBPROBE_TARGET_EMULATOR:
# the qemu-user program that runs the target's code on this machine, without
# binfmt_misc; empty where the host runs it itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${USBPROBE_TARGET_PROCESSOR})
set(CMAKE_C_COMPILER ${USBPROBE_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${USBPROBE_TARGET_TRIPLET}-g++)
if(USBPROBE_TARGET_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${USBPROBE_TARGET_EMULATOR})
endif()
# The target's .pc files only, never the host's.
execute_process(COMMAND dpkg-architecture -t${USBPROBE_TARGET_TRIPLET} -qDEB_HOST_MULTIARCH
                OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${multiarch}/pkgconfig:/usr/share/pkgconfig)
