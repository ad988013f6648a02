# shellcheck shell=sh
# The verdicts of the scripts of the tests in a virtual machine, each saying why on the error stream.
# Usage: . verdicts.sh   defines skip WHY... (exits 77, CTest's skipped) and fail WHY... (exits 1)
skip() {
    echo "skipped: $*" >&2
    exit 77
}
fail() {
    echo "$*" >&2
    exit 1
}
