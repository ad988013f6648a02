# libusb-1.0 for the Windows builds: a static library built from Debian's
# source package libusb-1.0 at exactly the version below, the first time a
# Windows build is configured, and reused by later configures of that build.
# pkg-config then finds it instead of the host's libusb.
set(USBPROBE_LIBUSB_VERSION 2:1.0.26-1)
string(REGEX REPLACE "^[0-9]+:" "" without_epoch ${USBPROBE_LIBUSB_VERSION})
string(REGEX REPLACE "-[^-]+$" "" LIBUSB_UPSTREAM_VERSION ${without_epoch})
set(LIBUSB_DSC libusb-1.0_${without_epoch}.dsc)
set(USBPROBE_DEPS_DIR "${CMAKE_BINARY_DIR}/deps" CACHE PATH
    "Where a Windows build keeps the libusb it builds")
set(USBPROBE_LIBUSB_SOURCE_DIR "${USBPROBE_DEPS_DIR}/libusb-source" CACHE PATH
    "libusb's Debian source package as apt-get source leaves it (.dsc, tarballs, unpacked tree); fetched when missing")
set(windows_libusb "${USBPROBE_DEPS_DIR}/libusb-${USBPROBE_TARGET_TRIPLET}")
set(built_version "")
if(EXISTS "${windows_libusb}/debian-version")
  file(STRINGS "${windows_libusb}/debian-version" built_version)
endif()
if(NOT built_version STREQUAL USBPROBE_LIBUSB_VERSION)
  message(STATUS "Building libusb-1.0 ${USBPROBE_LIBUSB_VERSION} for ${USBPROBE_TARGET_TRIPLET} in ${windows_libusb}")
  execute_process(
    COMMAND sh "${PROJECT_SOURCE_DIR}/scripts/build-windows-libusb" ${USBPROBE_TARGET_TRIPLET}
            ${USBPROBE_LIBUSB_VERSION} "${USBPROBE_LIBUSB_SOURCE_DIR}" "${windows_libusb}"
    RESULT_VARIABLE built)
  if(NOT built EQUAL 0)
    message(FATAL_ERROR "Could not build libusb-1.0 for ${USBPROBE_TARGET_TRIPLET}")
  endif()
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${windows_libusb}")
set(ENV{PKG_CONFIG_LIBDIR} "${windows_libusb}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
