# Run by cpack after it packs: the zip's member order, time stamps (the
# commit's) and attributes become canonical.
set(timestamp "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(timestamp -T $ENV{SOURCE_DATE_EPOCH})
endif()
foreach(package ${CPACK_PACKAGE_FILES})
  execute_process(COMMAND ${CPACK_USBPROBE_STRIP_NONDETERMINISM} -t zip ${timestamp} ${package}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
