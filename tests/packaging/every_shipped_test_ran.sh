#!/bin/sh
# Checks that every test of each build tree whose package ships ran, none skipped.
# Usage: every_shipped_test_ran.sh BUILD_TREE...   (scripts/check runs it after the release)
# A skipped test is no passed one: in each tree whose package ships, every test of its last run
# (junit.xml, which the test presets write) must have run.
failed=0
for tree in "$@"; do
    junit=$tree/junit.xml
    [ -f "$junit" ] || { echo "$tree: no junit.xml: its tests did not run"; failed=1; continue; }
    ran=$(grep -c '<testcase .*status="run"' "$junit")
    # NAME STATUS of each test that did not run; a discovered test's name
    # ends before "  # GetParam() = ...".
    not_run=$(grep -o '<testcase name="[^"]*"[^>]*status="[^"]*"' "$junit" | grep -v 'status="run"' |
        sed 's/<testcase name="\([^" ]*\)[^"]*".*status="\([^"]*\)"/\1 \2/')
    if [ "$ran" -eq 0 ] || [ -n "$not_run" ]; then
        echo "$not_run" | sed -n "s|^\([^ ]*\) \(.*\)|$tree: \1 did not run (\2)|p"
        [ "$ran" -gt 0 ] || echo "$tree: no test ran"
        failed=1
    else
        echo "$tree: all $ran tests ran"
    fi
done
[ "$failed" -eq 0 ] && echo "every test of every shipped build ran"
exit "$failed"
