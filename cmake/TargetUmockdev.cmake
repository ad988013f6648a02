# umockdev of another architecture, for tests whose processes are of that
# architecture: the preload library runs inside them and talks to umockdev-run
# with their word size, so both must be theirs. The distribution ships them in
# packages that cannot be installed beside the host's (umockdev,
# libumockdev-dev), so they are downloaded, in the version of the installed
# libumockdev0 of that architecture, and unpacked under the build tree
# (ROOT/made-of names that version); later configures reuse them while that
# version stays. Nothing is installed.
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
  # Kept with scripts/cache, described by that version: downloaded and
  # unpacked in a new folder that replaces ROOT once complete. The
  # development link points at the installed libumockdev0, and the .pc file
  # at the unpacked headers and link.
  execute_process(
    COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/cache ${root} ${version} sh -c [[
      set -e
      arch=$1 version=$2 multiarch=$3 root=$4 new=$5
      mkdir "$new/debs"
      cd "$new/debs"
      apt-get download "umockdev:$arch=$version" "libumockdev-dev:$arch=$version" >/dev/null
      for deb in *.deb; do dpkg-deb -x "$deb" "$new"; done
      cd "$new" && rm -rf debs
      ln -sf "/usr/lib/$multiarch/libumockdev.so.0" "usr/lib/$multiarch/libumockdev.so"
      sed -i "s|^prefix=/usr\$|prefix=$root/usr|" "usr/lib/$multiarch/pkgconfig/umockdev-1.0.pc"
    ]] sh ${arch} ${version} ${multiarch} ${root}
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
  if(failed)
    set(${problem_variable} "cannot download and unpack umockdev ${version} for ${arch}, the version of the \
installed libumockdev0:${arch} (scripts/install-deps test brings it up to date):\n${errors}" PARENT_SCOPE)
  endif()
endfunction()
