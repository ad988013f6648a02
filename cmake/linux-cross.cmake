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
# One static file (package tgz) links the target's own C library as Debian
# releases it now, libc6-dev of that architecture, whose source the archive
# serves: not the cross compiler's copy (libc6-dev-ARCH-cross), which was
# built from an older glibc and lacks its updates. The compiler's headers stay
# its own; for the C library's, it reads the target's multiarch folders alone.
usbprobe_target(${preset} package package)
if(package STREQUAL "tgz")
  set(USBPROBE_TARGET_LIBC /usr/lib/${multiarch})
  foreach(language c c++)
    execute_process(COMMAND ${USBPROBE_TARGET_TRIPLET}-gcc -E -v -x ${language} /dev/null
                    OUTPUT_QUIET ERROR_VARIABLE searched COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE ".*#include <...> search starts here:\n(.*)\nEnd of search list.*" "\\1" searched "${searched}")
    string(REPLACE "\n" ";" searched "${searched}")
    set(flags -nostdinc)
    foreach(folder IN LISTS searched)
      string(STRIP "${folder}" folder)
      get_filename_component(real "${folder}" REALPATH)
      if(NOT real STREQUAL "/usr/${USBPROBE_TARGET_TRIPLET}/include")
        string(APPEND flags " -isystem ${real}")
      endif()
    endforeach()
    set(libc_flags_${language} "${flags}")
  endforeach()
  set(CMAKE_C_FLAGS_INIT "${libc_flags_c}")
  set(CMAKE_CXX_FLAGS_INIT "${libc_flags_c++}")
  set(USBPROBE_TARGET_LIBC_FLAGS "${libc_flags_c} -B${USBPROBE_TARGET_LIBC}/ -L${USBPROBE_TARGET_LIBC}")
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${USBPROBE_TARGET_LIBC}/ -L${USBPROBE_TARGET_LIBC}")
endif()
