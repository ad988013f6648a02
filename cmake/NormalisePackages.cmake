# Run by cpack after it packs. strip-nondeterminism makes the packages'
# archive headers canonical: the zip's member order, time stamps (the
# commit's) and attributes, and the .deb's ar member modes, which cpack takes
# from the umask.
set(timestamp "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(timestamp -T $ENV{SOURCE_DATE_EPOCH})
endif()
foreach(package ${CPACK_PACKAGE_FILES})
  if(package MATCHES "\\.deb$")
    set(type --normalizers=+ar -t ar)
  else()
    set(type -t zip)
  endif()
  execute_process(COMMAND ${CPACK_USBPROBE_STRIP_NONDETERMINISM} ${type} ${timestamp} ${package}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "strip-nondeterminism could not normalise ${package}")
  endif()
endforeach()
