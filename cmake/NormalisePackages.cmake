# Run by cpack after it packs. strip-nondeterminism makes the packages'
# archive headers canonical: the zip's member order, time stamps (the
# commit's) and attributes, and the .deb's ar member modes, which cpack takes
# from the umask. A .tar.gz is packed again by GNU tar: its members in name
# order, the commit's time, owned by root, and gzip without a time or name.
set(timestamp "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(timestamp -T $ENV{SOURCE_DATE_EPOCH})
endif()
foreach(package ${CPACK_PACKAGE_FILES})
  if(package MATCHES "\\.tar\\.gz$")
    set(unpacked ${package}.unpacked)
    file(REMOVE_RECURSE ${unpacked})
    file(MAKE_DIRECTORY ${unpacked})
    set(mtime "")
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
      set(mtime --mtime=@$ENV{SOURCE_DATE_EPOCH} --clamp-mtime)
    endif()
    execute_process(COMMAND tar -xzf ${package} -C ${unpacked} RESULT_VARIABLE failed)
    if(NOT failed)
      file(GLOB top RELATIVE ${unpacked} ${unpacked}/*)
      execute_process(COMMAND tar --sort=name ${mtime} --owner=0 --group=0 --numeric-owner --mode=u+rwX,go=rX
                              --format=gnu -C ${unpacked} -cf - ${top}
                      COMMAND gzip -9n OUTPUT_FILE ${package} RESULTS_VARIABLE results)
      string(REGEX MATCH "[^0;]" failed "${results}")
    endif()
    file(REMOVE_RECURSE ${unpacked})
    if(failed)
      message(FATAL_ERROR "Could not pack ${package} again: ${failed}")
    endif()
    continue()
  elseif(package MATCHES "\\.deb$")
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
