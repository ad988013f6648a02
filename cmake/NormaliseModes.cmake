# Run by cpack between staging and packing: whatever the umask, what the
# packages hold is 0755 (folders and executables) or 0644.
execute_process(COMMAND chmod -R u+rwX,go=rX "${CPACK_TEMPORARY_DIRECTORY}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Could not normalise the modes in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
