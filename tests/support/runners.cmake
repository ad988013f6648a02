# The process harness and the runner of the library-call table. Included by the
# Linux tests and by the host project of a Windows build; each sets
# USBPROBE_ON_FAKE_LIBUSB (the program to run) and USBPROBE_POINTER_BITS (its
# pointer width) first.
find_package(GTest REQUIRED)

add_library(child_process STATIC ${CMAKE_CURRENT_LIST_DIR}/child_process.cpp)
target_include_directories(child_process PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(child_process PUBLIC GTest::gtest_main)

add_executable(library_failures_test ${CMAKE_CURRENT_LIST_DIR}/../library_failures_test.cpp)
target_link_libraries(library_failures_test PRIVATE child_process)
target_compile_definitions(library_failures_test PRIVATE
  USBPROBE_ON_FAKE_LIBUSB="${USBPROBE_ON_FAKE_LIBUSB}" USBPROBE_POINTER_BITS=${USBPROBE_POINTER_BITS})
