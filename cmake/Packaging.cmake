# What the packages hold, and the packages: a .deb on Linux (the tool, its man
# page, README, and Debian's copyright and changelog), a .zip on Windows (the
# exe, its usage text, the licences and notices of everything linked into it,
# a record of the toolchain that built it, and the source of usbprobe and
# libusb; the exe is the one the build linked, already stripped). Both come
# out bit-identical wherever, whenever and under whatever umask they are built
# from the same commit: every time stamp is the commit's (SOURCE_DATE_EPOCH),
# the modes are set before packing and strip-nondeterminism normalises the
# archives after. `cmake --install` on Linux installs no Debian format: the
# tool, the man page, README.md, LICENSE and the example udev rule.
set(CPACK_PACKAGE_NAME usbprobe)
set(CPACK_PACKAGE_VENDOR "usbprobe developers")
set(USBPROBE_MAINTAINER "usbprobe developers <usbprobe@maintainers.invalid>" CACHE STRING
    "Maintainer named in the .deb")
set(CPACK_PACKAGE_CONTACT "${USBPROBE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "lists USB devices and checks whether the serial bridge 1A86:7523 can be opened")
set(CPACK_PACKAGE_DESCRIPTION
    "usbprobe answers the first two questions about a USB serial adapter that does
not work: is it on the bus, and may a program open it? It lists every attached
USB device by vendor and product ID, tries to open the USB-to-serial bridge
1A86:7523 through libusb-1.0, waits for a key, reports whether the open
worked, and waits for one more key. Its messages are German.")
# Folders that installing creates are 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source_date_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  # Only this tree's own commit: a source unpacked inside another checkout
  # must not take that checkout's time.
  set(git_failed 1)
  if(EXISTS "${PROJECT_SOURCE_DIR}/.git")
    execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_failed ERROR_QUIET)
  endif()
  if(git_failed)
    message(STATUS "No commit time from git (not a git checkout, or no git) and no SOURCE_DATE_EPOCH: packages made here will carry the time they are made")
    set(source_date_epoch "")
  endif()
endif()
set(CPACK_USBPROBE_SOURCE_DATE_EPOCH "${source_date_epoch}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageTimes.cmake)

if(WIN32)
  set(USBPROBE_PRESET windows-x86)
  set(CPACK_SYSTEM_NAME win32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(USBPROBE_PRESET windows-x64)
    set(CPACK_SYSTEM_NAME win64)
  endif()
  # The Debian packages, with their versions, of the compiler, binutils and
  # the mingw-w64 runtime that build the exe, for the notice: a bit-exact
  # rebuild needs them.
  set(toolchain_files ${CMAKE_CXX_COMPILER})
  foreach(query -print-prog-name=cc1plus -print-prog-name=ld -print-libgcc-file-name
                -print-file-name=libstdc++.a -print-file-name=libmingwex.a)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${query} OUTPUT_VARIABLE file
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND toolchain_files ${file})
  endforeach()
  set(toolchain_packages "")
  set(USBPROBE_TOOLCHAIN "")
  foreach(file ${toolchain_files})
    get_filename_component(file "${file}" REALPATH)
    execute_process(COMMAND dpkg-query -S "${file}" OUTPUT_VARIABLE owner
                    RESULT_VARIABLE unowned ERROR_QUIET)
    if(unowned)
      string(APPEND USBPROBE_TOOLCHAIN "  ${file} (from no Debian package)\n")
    else()
      string(REGEX REPLACE "[:,].*" "" owner "${owner}")
      list(APPEND toolchain_packages ${owner})
    endif()
  endforeach()
  if(toolchain_packages)
    list(REMOVE_DUPLICATES toolchain_packages)
    list(SORT toolchain_packages)
    execute_process(COMMAND dpkg-query -W "-f=  \${Package} \${Version}\n" ${toolchain_packages}
                    OUTPUT_VARIABLE versions)
    string(PREPEND USBPROBE_TOOLCHAIN "${versions}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS /var/lib/dpkg/status)
  endif()
  string(REGEX REPLACE "\n$" "" USBPROBE_TOOLCHAIN "${USBPROBE_TOOLCHAIN}")
  # configure_file gives Windows' line ends to the notice's own lines only.
  string(REPLACE "\n" "\r\n" USBPROBE_TOOLCHAIN "${USBPROBE_TOOLCHAIN}")
  install(TARGETS usbprobe RUNTIME DESTINATION .)
  configure_file(doc/usbprobe-windows.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(doc/libusb-notice.txt NOTICE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(doc/mingw-w64-notice.txt mingw-w64-COPYING.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/NOTICE.txt
                ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt ${CMAKE_CURRENT_BINARY_DIR}/mingw-w64-COPYING.txt
          DESTINATION .)
  # libusb's licence and source package, the copies the library was built from.
  # with Windows' line ends, as the other texts
  file(READ ${USBPROBE_STATIC_LIBUSB}/COPYING licence)
  string(REGEX REPLACE "\r?\n" "\r\n" licence "${licence}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/libusb-COPYING.txt "${licence}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/libusb-COPYING.txt DESTINATION .)
  install(DIRECTORY ${USBPROBE_STATIC_LIBUSB}/source/ DESTINATION source/libusb)
  install(CODE "set(USBPROBE_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
                set(USBPROBE_BINARY_DIR \"${PROJECT_BINARY_DIR}\")
                set(USBPROBE_SOURCE_NAME usbprobe-${PROJECT_VERSION})")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallSource.cmake)
  set(CPACK_GENERATOR ZIP)
elseif(USBPROBE_STATIC)
  # One folder to unpack anywhere: the stripped static file the tests ran, its
  # man page, the example rule, a text on how to use them, the licence and the
  # terms of what is linked in. The release beside it holds the sources.
  # The C library linked in (the target's own, cmake/linux-cross.cmake):
  # Debian's package that holds libc.a, and the version of Debian's source
  # package glibc it was built from.
  if(USBPROBE_TARGET_LIBC)
    set(libc ${USBPROBE_TARGET_LIBC}/libc.a)
  else()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.a OUTPUT_VARIABLE libc
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  get_filename_component(libc "${libc}" REALPATH)
  execute_process(COMMAND dpkg-query -S "${libc}" OUTPUT_VARIABLE owner RESULT_VARIABLE unowned ERROR_QUIET)
  string(REGEX REPLACE ": .*" "" USBPROBE_GLIBC_PACKAGE "${owner}")
  if(NOT unowned)
    execute_process(COMMAND dpkg-query -W "-f=\${source:Package} \${source:Version};\${Built-Using};\${Version}"
                            "${USBPROBE_GLIBC_PACKAGE}"
                    OUTPUT_VARIABLE glibc)
    if(glibc MATCHES "^glibc ([^;]+);")
      set(USBPROBE_GLIBC_VERSION ${CMAKE_MATCH_1})
    elseif(glibc MATCHES "glibc \\(= ([^)]+)\\)")
      set(USBPROBE_GLIBC_VERSION ${CMAKE_MATCH_1})
    endif()
    string(REGEX REPLACE ".*;" "" package_version "${glibc}")
    string(APPEND USBPROBE_GLIBC_PACKAGE " ${package_version}")
  endif()
  if(NOT USBPROBE_GLIBC_VERSION)
    message(FATAL_ERROR "${libc}, the C library that ${CMAKE_CXX_COMPILER} links, is of no Debian package built from glibc: the static file's notice cannot name its source")
  endif()
  # The release fetches the source of this version.
  set(USBPROBE_GLIBC_SOURCE ${USBPROBE_GLIBC_VERSION} CACHE INTERNAL "The version of Debian's glibc linked in")
  # The notice's commands: a row of another release than the first row's (the
  # machine the project is built on) builds in a system of that release.
  include(${CMAKE_CURRENT_LIST_DIR}/Targets.cmake)
  usbprobe_targets(rows)
  list(GET rows 0 first_row)
  usbprobe_target(${first_row} suite machine_suite)
  usbprobe_target(${USBPROBE_PRESET} suite suite)
  set(USBPROBE_IN_SUITE "")
  if(NOT suite STREQUAL machine_suite)
    set(USBPROBE_IN_SUITE "sh scripts/in-debian ${suite} ")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS /var/lib/dpkg/status)
  install(TARGETS usbprobe RUNTIME DESTINATION .)
  configure_file(doc/usbprobe.1 usbprobe.1 @ONLY)
  configure_file(doc/usbprobe-linux.txt README.txt @ONLY)
  configure_file(doc/static-notice.txt NOTICE.txt @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/usbprobe.1 ${CMAKE_CURRENT_BINARY_DIR}/README.txt
                ${CMAKE_CURRENT_BINARY_DIR}/NOTICE.txt doc/60-usbprobe.rules LICENSE DESTINATION .)
  install(FILES ${USBPROBE_STATIC_LIBUSB}/COPYING DESTINATION . RENAME COPYING.LGPL-2.1)
  install(FILES doc/gcc-runtime-exception.txt DESTINATION . RENAME GCC-RUNTIME-EXCEPTION.txt)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ)
else()
  include(GNUInstallDirs)
  install(TARGETS usbprobe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  configure_file(doc/usbprobe.1 usbprobe.1 @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS doc/debian/changelog)
  foreach(file ${CMAKE_CURRENT_BINARY_DIR}/usbprobe.1 ${PROJECT_SOURCE_DIR}/doc/debian/changelog)
    get_filename_component(name ${file} NAME)
    execute_process(COMMAND gzip -9nc INPUT_FILE ${file} OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz
                    RESULT_VARIABLE gzip_failed)
    if(gzip_failed)
      message(FATAL_ERROR "gzip cannot compress ${file}: ${gzip_failed}")
    endif()
  endforeach()
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/usbprobe.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # An example, not an active rule: installing it is the administrator's choice.
  install(FILES doc/60-usbprobe.rules DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)
  # Debian's own formats, for the .deb alone: its copyright file holds the
  # licence there.
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz doc/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${PROJECT_BINARY_DIR};usbprobe;Unspecified;/;${PROJECT_BINARY_DIR};usbprobe;debian;/")
  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # dpkg-shlibdeps names the runtime packages, libusb-1.0-0 among them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The package is for the architecture the compiler builds for.
  if(USBPROBE_DEBIAN_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${USBPROBE_DEBIAN_ARCH})
  elseif(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "A cross build needs dpkg-architecture (dpkg-dev) to name its package's architecture")
  endif()
endif()
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/NormaliseModes.cmake)
find_program(CPACK_USBPROBE_STRIP_NONDETERMINISM strip-nondeterminism)
if(CPACK_USBPROBE_STRIP_NONDETERMINISM)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/NormalisePackages.cmake)
else()
  message(STATUS "No strip-nondeterminism: the packages made here will not be reproducible")
endif()
include(CPack)
