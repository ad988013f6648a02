# Installs usbprobe's source as source/<USBPROBE_SOURCE_NAME>: in a git
# checkout exactly the files git tracks, as the working tree holds them; in a
# tree without git (such as the source unpacked from a zip) every file but the
# build folders. (cpack sets the modes of all it packs, whatever the umask.)
set(destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/source")
set(list_file "${USBPROBE_BINARY_DIR}/source-files.txt")
file(REMOVE_RECURSE "${destination}/${USBPROBE_SOURCE_NAME}")
execute_process(COMMAND git -C "${USBPROBE_SOURCE_DIR}" ls-files
                OUTPUT_FILE "${list_file}" RESULT_VARIABLE not_git ERROR_QUIET)
if(not_git OR NOT EXISTS "${USBPROBE_SOURCE_DIR}/.git")
  file(GLOB_RECURSE files RELATIVE "${USBPROBE_SOURCE_DIR}" "${USBPROBE_SOURCE_DIR}/*")
  list(FILTER files EXCLUDE REGEX "^build[^/]*/")
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
