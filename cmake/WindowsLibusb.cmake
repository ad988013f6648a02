# libusb-1.0 for the Windows builds: a static library built from Debian's
# source package the first time a Windows build is configured, and reused by
# every later one. pkg-config then finds it instead of the host's libusb.
set(USBPROBE_DEPS_DIR "${PROJECT_SOURCE_DIR}/build/deps" CACHE PATH
    "Where the Windows builds keep the libusb they build")
set(windows_libusb "${USBPROBE_DEPS_DIR}/libusb-${USBPROBE_TARGET_TRIPLET}")
if(NOT EXISTS "${windows_libusb}/lib/pkgconfig/libusb-1.0.pc")
  message(STATUS "Building libusb-1.0 for ${USBPROBE_TARGET_TRIPLET} in ${windows_libusb}")
  execute_process(
    COMMAND sh "${PROJECT_SOURCE_DIR}/scripts/build-windows-libusb" ${USBPROBE_TARGET_TRIPLET} "${windows_libusb}"
    RESULT_VARIABLE built)
  if(NOT built EQUAL 0)
    message(FATAL_ERROR "Could not build libusb-1.0 for ${USBPROBE_TARGET_TRIPLET}")
  endif()
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${windows_libusb}")
set(ENV{PKG_CONFIG_LIBDIR} "${windows_libusb}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
