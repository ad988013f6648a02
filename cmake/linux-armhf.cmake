# Everything here is built with this one compiler, so the note that GCC 7.1
# changed how some arguments are passed does not concern it.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
