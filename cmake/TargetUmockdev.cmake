# umockdev of another architecture, for tests whose processes are of that
# architecture: the preload library runs inside them and talks to umockdev-run
# with their word size, so both must be theirs. The distribution ships them in
# packages that cannot be installed beside the host's (umockdev,
# libumockdev-dev), so they are downloaded, in the version of the installed
# libumockdev0 of that architecture, and unpacked under the build tree; later
# configures reuse them while that version stays. Nothing is installed.
#
# usbprobe_unpack_umockdev(ARCH MULTIARCH ROOT PROBLEM) unpacks them into ROOT
# (ROOT/usr/bin/umockdev-run, the preload library in ROOT/usr/lib/MULTIARCH,
# with a .pc file pointing there) and sets PROBLEM to why it could not, or to
# "" when it could.
function(usbprobe_unpack_umockdev arch multiarch root problem_variable)
  set(${problem_variable} "" PARENT_SCOPE)
  execute_process(COMMAND dpkg-query -W -f=\${Version} libumockdev0:${arch}
                  OUTPUT_VARIABLE version RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR version STREQUAL "")
    set(${problem_variable} "libumockdev0:${arch} is not installed: run scripts/install-deps test" PARENT_SCOPE)
    return()
  endif()
  set(unpacked_version "")
  if(EXISTS ${root}/version)
    file(READ ${root}/version unpacked_version)
  endif()
  if(unpacked_version STREQUAL version)
    return()
  endif()
  # Downloaded and unpacked aside, then moved in whole: an interrupted
  # configure leaves nothing that a later one would take for complete.
  set(work ${root}.partial)
  file(REMOVE_RECURSE ${work} ${root})
  file(MAKE_DIRECTORY ${work}/debs)
  execute_process(COMMAND apt-get download umockdev:${arch}=${version} libumockdev-dev:${arch}=${version}
                  WORKING_DIRECTORY ${work}/debs RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
  if(failed)
    set(${problem_variable} "cannot download umockdev ${version} for ${arch}, the version of the installed "
                            "libumockdev0:${arch} (scripts/install-deps test brings it up to date):\n${errors}"
        PARENT_SCOPE)
    return()
  endif()
  file(GLOB debs ${work}/debs/*.deb)
  foreach(deb ${debs})
    execute_process(COMMAND dpkg-deb -x ${deb} ${work}/root RESULT_VARIABLE failed ERROR_VARIABLE errors)
    if(failed)
      set(${problem_variable} "cannot unpack ${deb}: ${errors}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  # The development link points at the installed libumockdev0, and the .pc
  # file at the unpacked headers and link.
  file(CREATE_LINK /usr/lib/${multiarch}/libumockdev.so.0 ${work}/root/usr/lib/${multiarch}/libumockdev.so SYMBOLIC)
  set(pc ${work}/root/usr/lib/${multiarch}/pkgconfig/umockdev-1.0.pc)
  file(READ ${pc} contents)
  string(REGEX REPLACE "(^|\n)prefix=/usr\n" "\\1prefix=${root}/usr\n" contents "${contents}")
  file(WRITE ${pc} "${contents}")
  file(WRITE ${work}/root/version "${version}")
  file(RENAME ${work}/root ${root})
  file(REMOVE_RECURSE ${work})
endfunction()
