include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
