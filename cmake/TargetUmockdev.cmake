# umockdev for the tests of a Linux cross build. The preload library runs
# inside the tool's process and talks to umockdev-run with the target's word
# size, so the tests need the target architecture's umockdev-run, preload
# library and .pc file. The distribution ships them in packages that cannot be
# installed beside the host's (umockdev, libumockdev-dev), so a configure
# downloads those packages, in the version of the installed libumockdev0 of
# that architecture, and unpacks them under the build tree (target-umockdev/);
# later configures reuse them while that version stays. Nothing is installed.
#
# Sets USBPROBE_TARGET_UMOCKDEV_BIN and USBPROBE_TARGET_UMOCKDEV_LIB (the
# folders of umockdev-run and of the preload library) and puts the .pc file
# first in pkg-config's path.
set(arch ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})  # named by Packaging.cmake
set(multiarch ${CMAKE_LIBRARY_ARCHITECTURE})
set(root ${CMAKE_BINARY_DIR}/target-umockdev)
execute_process(COMMAND dpkg-query -W -f=\${Version} libumockdev0:${arch}
                OUTPUT_VARIABLE version RESULT_VARIABLE failed ERROR_QUIET)
if(failed OR version STREQUAL "")
  message(FATAL_ERROR "libumockdev0:${arch} is not installed: run scripts/install-deps test")
endif()
set(unpacked_version "")
if(EXISTS ${root}/version)
  file(READ ${root}/version unpacked_version)
endif()
if(NOT unpacked_version STREQUAL version)
  # Downloaded and unpacked aside, then moved in whole: an interrupted
  # configure leaves nothing that a later one would take for complete.
  set(work ${CMAKE_BINARY_DIR}/target-umockdev.partial)
  file(REMOVE_RECURSE ${work} ${root})
  file(MAKE_DIRECTORY ${work}/debs)
  execute_process(COMMAND apt-get download umockdev:${arch}=${version} libumockdev-dev:${arch}=${version}
                  WORKING_DIRECTORY ${work}/debs RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
  if(failed)
    message(FATAL_ERROR "Cannot download umockdev ${version} for ${arch}, the version of the installed "
                        "libumockdev0:${arch} (scripts/install-deps test brings it up to date):\n${errors}")
  endif()
  file(GLOB debs ${work}/debs/*.deb)
  foreach(deb ${debs})
    execute_process(COMMAND dpkg-deb -x ${deb} ${work}/root COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  # The development link points at the installed libumockdev0, and the .pc
  # file at the unpacked headers and link.
  file(CREATE_LINK /usr/lib/${multiarch}/libumockdev.so.0 ${work}/root/usr/lib/${multiarch}/libumockdev.so SYMBOLIC)
  set(pc ${work}/root/usr/lib/${multiarch}/pkgconfig/umockdev-1.0.pc)
  file(READ ${pc} contents)
  string(REGEX REPLACE "(^|\n)prefix=/usr\n" "\\1prefix=${root}/usr\n" contents "${contents}")
  file(WRITE ${pc} "${contents}")
  file(WRITE ${work}/root/version "${version}")
  file(RENAME ${work}/root ${root})
  file(REMOVE_RECURSE ${work})
endif()
set(USBPROBE_TARGET_UMOCKDEV_BIN ${root}/usr/bin)
set(USBPROBE_TARGET_UMOCKDEV_LIB ${root}/usr/lib/${multiarch})
set(ENV{PKG_CONFIG_LIBDIR} "${USBPROBE_TARGET_UMOCKDEV_LIB}/pkgconfig:$ENV{PKG_CONFIG_LIBDIR}")
