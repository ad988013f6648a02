#!/bin/sh
# Usage: every_shipped_test_ran.sh BUILD_TREE...
# A skipped test is no passed one: in each tree whose package ships, every test
# of its last run (junit.xml, which the test presets write) must have run. The
# only exception is the case of the library-call table about the other
# pointer width's handles: on a 32-bit build the 64-bit one, and the other way
# round.
failed=0
for tree in "$@"; do
    junit=$tree/junit.xml
    [ -f "$junit" ] || { echo "$tree: no junit.xml: its tests did not run"; failed=1; continue; }
    bits=$(($(sed -n 's/^set(CMAKE_CXX_SIZEOF_DATA_PTR "\([0-9]*\)")$/\1/p' "$tree"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1) * 8))
    case $bits in
    32) other=handle_wider_than_32_bits_printed_whole ;;
    64) other=handle_from_2_31_up_printed_as_signed_32_bit_number ;;
    *) echo "$tree: cannot tell its pointer width"; failed=1; continue ;;
    esac
    ran=$(grep -c '<testcase .*status="run"' "$junit")
    # NAME STATUS of each test that did not run; a discovered test's name
    # ends before "  # GetParam() = ...".
    not_run=$(grep -o '<testcase name="[^"]*"[^>]*status="[^"]*"' "$junit" | grep -v 'status="run"' |
        sed 's/<testcase name="\([^" ]*\)[^"]*".*status="\([^"]*\)"/\1 \2/')
    unexpected=$(echo "$not_run" | grep -v -e '^$' -e "/$other [a-z]*\$")
    if [ -n "$unexpected" ]; then
        echo "$unexpected" | sed "s|^\([^ ]*\) \(.*\)|$tree: \1 did not run (\2)|"
        failed=1
    fi
    echo "$tree: $ran tests ran; not run: $(echo $(echo "$not_run" | cut -d' ' -f1))"
done
[ "$failed" -eq 0 ] && echo "every test of every shipped build ran"
exit "$failed"
