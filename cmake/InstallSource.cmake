# Installs usbprobe's source as source/<USBPROBE_SOURCE_NAME>: in a git
# checkout exactly the files git tracks, as the working tree holds them; in a
# tree without git (such as the source unpacked from a zip) every file but the
# build trees: build*/ and every folder that holds a CMakeCache.txt. Symbolic
# links are copied as links, never followed, so a link to / or a loop (a wine
# prefix's dosdevices, say) costs nothing. (cpack sets the modes of all it
# packs, whatever the umask.)
cmake_policy(SET CMP0009 NEW)
set(destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/source")
set(list_file "${USBPROBE_BINARY_DIR}/source-files.txt")
file(REMOVE_RECURSE "${destination}/${USBPROBE_SOURCE_NAME}")
execute_process(COMMAND git -C "${USBPROBE_SOURCE_DIR}" ls-files
                OUTPUT_FILE "${list_file}" RESULT_VARIABLE not_git ERROR_QUIET)
if(not_git OR NOT EXISTS "${USBPROBE_SOURCE_DIR}/.git")
  file(GLOB_RECURSE files RELATIVE "${USBPROBE_SOURCE_DIR}" "${USBPROBE_SOURCE_DIR}/*")
  list(FILTER files EXCLUDE REGEX "^build[^/]*/")
  set(caches ${files})
  list(FILTER caches INCLUDE REGEX "(^|/)CMakeCache\\.txt$")
  list(FILTER caches EXCLUDE REGEX "^CMakeCache\\.txt$")  # an in-source build: keep the source
  foreach(cache ${caches})
    string(REGEX REPLACE "CMakeCache\\.txt$" "" tree "${cache}")
    string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" tree "${tree}")
    list(FILTER files EXCLUDE REGEX "^${tree}")
  endforeach()
  list(JOIN files "\n" files)
  file(WRITE "${list_file}" "${files}\n")
endif()
execute_process(
  COMMAND tar -c -f - -C "${USBPROBE_SOURCE_DIR}" --verbatim-files-from -T "${list_file}"
  COMMAND sh -c "mkdir -p \"$1\" && tar -x -f - -C \"$1\"" - "${destination}/${USBPROBE_SOURCE_NAME}"
  RESULT_VARIABLE failed)
file(REMOVE "${list_file}")
if(failed)
  message(FATAL_ERROR "Could not copy usbprobe's source into ${destination}")
endif()
