# What the packages hold, and the packages: a .deb on Linux (the tool and its
# man page), a .zip on Windows (the exe and a short text on using it).
set(CPACK_PACKAGE_NAME usbprobe)
set(CPACK_PACKAGE_VENDOR "usbprobe developers")
set(CPACK_PACKAGE_CONTACT "usbprobe developers <usbprobe@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "lists USB devices and checks whether the serial bridge 1A86:7523 can be opened")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS usbprobe RUNTIME DESTINATION .)
  configure_file(doc/usbprobe-windows.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  include(GNUInstallDirs)
  install(TARGETS usbprobe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  configure_file(doc/usbprobe.1 usbprobe.1 @ONLY)
  file(ARCHIVE_CREATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/usbprobe.1.gz
       PATHS ${CMAKE_CURRENT_BINARY_DIR}/usbprobe.1 FORMAT raw COMPRESSION GZip)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/usbprobe.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # dpkg-shlibdeps names the runtime packages, libusb-1.0-0 among them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
