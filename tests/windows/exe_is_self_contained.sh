#!/bin/sh
# Checks that the Windows exe is one self-contained console file for Windows Vista and later.
# Usage: exe_is_self_contained.sh EXE OBJDUMP EXPECTED_FORMAT   (ctest -R exe_is_one_self_contained_console_file)
# The exe must be a console program of the expected format, at most 1 MiB,
# declaring Windows Vista (6.0) as the oldest Windows it runs on, carrying a
# manifest that declares Vista to Windows 10 and 11 supported and asks for no
# elevation, and importing nothing but DLLs that every Windows has.
exe=$1 objdump=$2 format=$3
failed=0

file -b "$exe" | grep -qF "$format" || { echo "format: $(file -b "$exe"), expected $format"; failed=1; }

size=$(wc -c <"$exe")
[ "$size" -le 1048576 ] || { echo "size: $size bytes, more than 1 MiB"; failed=1; }

headers=$("$objdump" -p "$exe")
floor=
set -- MajorOSystemVersion 6 MinorOSystemVersion 0 MajorSubsystemVersion 6 MinorSubsystemVersion 0
while [ $# -gt 0 ]; do
    value=$(echo "$headers" | sed -n "s/^$1[[:space:]]*//p")
    [ "$value" = "$2" ] || { echo "$1 is '$value', not $2: the exe must declare Windows Vista (6.0)"; failed=1; }
    floor="$floor $1 $value"
    shift 2
done

# Vista, 7, 8, 8.1, and 10 and 11.
for id in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -qaF "<supportedOS Id=\"{$id}\"/>" "$exe" || { echo "the manifest does not declare the Windows of {$id} supported"; failed=1; }
done
grep -qaF '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$exe" ||
    { echo "the manifest does not ask to run as the invoker"; failed=1; }

imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no imports found"; failed=1; }
for dll in $imports; do
    case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
    kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | setupapi.dll | ole32.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
    *) echo "imports a DLL that is not part of Windows: $dll"; failed=1 ;;
    esac
done

[ "$failed" -eq 0 ] && echo "$format, $size bytes,$floor, a manifest for Vista to 11 as invoker, imports: $(echo "$imports" | paste -sd' ' -)"
exit "$failed"
