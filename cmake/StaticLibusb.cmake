# libusb-1.0 for the builds of one self-contained file, the Windows exes and
# the static Linux files: a static library built from the upstream
# tarball of Debian's source package libusb-1.0 at exactly the version and
# suite that libusb.txt names, whose checksum is committed beside it in
# libusb.sha256 (the archive serves neither that package's .dsc nor Debian's
# changes, which touch only the packaging); for Linux without udev, whose
# library has no static form on Debian. libusb 1.0.27 and later no longer
# wait about a second in every device listing for each device that Windows
# left unconfigured, one without a driver say. It is built once per compiler
# and checkout, the first time a build for that compiler is configured, and
# every preset of the checkout shares it.
# pkg-config then finds it instead of the host's libusb.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/libusb.txt pin REGEX "^(version|suite) ")
string(REGEX REPLACE ".*version ([^;]*).*" "\\1" USBPROBE_LIBUSB_VERSION "${pin}")
string(REGEX REPLACE ".*suite ([^;]*).*" "\\1" USBPROBE_LIBUSB_SUITE "${pin}")
set(USBPROBE_LIBUSB_DEBIAN_RELEASE "Debian ${USBPROBE_LIBUSB_SUITE}")
string(REGEX REPLACE "^[0-9]+:" "" without_epoch ${USBPROBE_LIBUSB_VERSION})
string(REGEX REPLACE "-[^-]+$" "" LIBUSB_UPSTREAM_VERSION ${without_epoch})
set(libusb_sums ${CMAKE_CURRENT_LIST_DIR}/libusb.sha256)
set(LIBUSB_TARBALL libusb-1.0_${LIBUSB_UPSTREAM_VERSION}.orig.tar.bz2)
set(USBPROBE_DEPS_DIR "${PROJECT_SOURCE_DIR}/build/deps" CACHE PATH
    "Where the static builds keep the libusb they build, shared by every build of the checkout")
set(USBPROBE_LIBUSB_SOURCE_DIR "" CACHE PATH
    "A folder holding the upstream tarball of libusb's Debian source package; empty: fetch it from the archive")
if(USBPROBE_LIBUSB_SOURCE_DIR)
  set(libusb_sources "${USBPROBE_LIBUSB_SOURCE_DIR}")
  set(libusb_source_mode supplied)
else()
  set(libusb_sources "${USBPROBE_DEPS_DIR}/libusb-source")
  set(libusb_source_mode fetch)
endif()
set(USBPROBE_STATIC_LIBUSB "${USBPROBE_DEPS_DIR}/libusb-${USBPROBE_TARGET_TRIPLET}")
# Checks the source at every configure; builds only when the version differs.
message(STATUS "libusb-1.0 ${USBPROBE_LIBUSB_VERSION} of ${USBPROBE_LIBUSB_SUITE} for ${USBPROBE_TARGET_TRIPLET}: ${USBPROBE_STATIC_LIBUSB}, from ${libusb_sources}")
execute_process(
  COMMAND sh "${PROJECT_SOURCE_DIR}/scripts/build-libusb" ${USBPROBE_TARGET_TRIPLET}
          ${USBPROBE_LIBUSB_VERSION} ${USBPROBE_LIBUSB_SUITE} "${libusb_sums}" "${libusb_sources}" ${libusb_source_mode}
          "${USBPROBE_STATIC_LIBUSB}" "${USBPROBE_TARGET_LIBC_FLAGS}"
  RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "Could not build libusb-1.0 for ${USBPROBE_TARGET_TRIPLET}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${libusb_sums}" ${CMAKE_CURRENT_LIST_DIR}/libusb.txt)
set(USBPROBE_LIBUSB_SOURCE_COPY "${USBPROBE_STATIC_LIBUSB}/source" CACHE INTERNAL "The libusb source linked in, for the release")
list(APPEND CMAKE_FIND_ROOT_PATH "${USBPROBE_STATIC_LIBUSB}")
set(ENV{PKG_CONFIG_LIBDIR} "${USBPROBE_STATIC_LIBUSB}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
