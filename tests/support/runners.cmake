# The process harness, the tool's words and the runner of the library-call
# table. Included by the Linux tests and by the host project of a Windows
# build; each sets USBPROBE_ON_FAKE_LIBUSB (the program to run) and
# USBPROBE_POINTER_BITS (its pointer width) first.
find_package(GTest REQUIRED)

# words.h: each of words.sh's texts as a string macro of the same name, and
# list_line(vendor, product), one device's line.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/words.sh words REGEX "^USBPROBE_[A-Z_]+='[^'\"\\]*(\\\\n[^'\"\\]*)*'$")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/words.sh assignments REGEX "^USBPROBE_")
if(NOT words STREQUAL assignments)
  message(FATAL_ERROR "words.sh: each text must be one line USBPROBE_NAME='TEXT', TEXT without quotes or backslashes but \\n")
endif()
set(header "// Made from tests/support/words.sh.\n#pragma once\n#include <cstdio>\n#include <string>\n")
foreach(word IN LISTS words)
  string(REGEX REPLACE "^([A-Z_]+)='(.*)'$" "#define \\1 \"\\2\"\n" definition "${word}")
  string(APPEND header "${definition}")
endforeach()
string(APPEND header [=[
inline std::string list_line(unsigned vendor, unsigned product)
{
    char line[64];
    std::snprintf(line, sizeof line, USBPROBE_LIST_LINE, vendor, product);
    return line;
}
]=])
set(words_header ${CMAKE_CURRENT_BINARY_DIR}/words/words.h)
if(EXISTS ${words_header})
  file(READ ${words_header} written)
endif()
if(NOT written STREQUAL header)
  file(WRITE ${words_header} "${header}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/words.sh)

add_library(child_process STATIC ${CMAKE_CURRENT_LIST_DIR}/child_process.cpp)
target_include_directories(child_process PUBLIC ${CMAKE_CURRENT_LIST_DIR}/.. ${CMAKE_CURRENT_BINARY_DIR}/words)
target_link_libraries(child_process PUBLIC GTest::gtest_main)

add_executable(library_failures_test ${CMAKE_CURRENT_LIST_DIR}/../library_failures_test.cpp)
target_link_libraries(library_failures_test PRIVATE child_process)
target_compile_definitions(library_failures_test PRIVATE
  USBPROBE_ON_FAKE_LIBUSB="${USBPROBE_ON_FAKE_LIBUSB}" USBPROBE_POINTER_BITS=${USBPROBE_POINTER_BITS})
