# shellcheck shell=sh
# skip and fail for the scripts of the tests in a virtual machine: skip exits
# 77 (CTest's skipped), fail 1, each saying why on the error stream.
skip() {
    echo "skipped: $*" >&2
    exit 77
}
fail() {
    echo "$*" >&2
    exit 1
}
