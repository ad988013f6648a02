# shellcheck shell=sh disable=SC2034 # the words are for the scripts that source this file
# What the tool writes, byte for byte: the one place every test takes its words from.
# Usage: . words.sh   defines USBPROBE_LIST_LINE, USBPROBE_PROMPT, USBPROBE_OPENED, USBPROBE_CLOSED
# Each is a printf format (\n: one line end), for the shell's printf and C's alike. The C++ tests
# get each as a string macro of the same name from the header words.h, which
# tests/support/runners.cmake makes from this file's lines USBPROBE_NAME='TEXT'.
# One line per device, with its vendor and product ID.
USBPROBE_LIST_LINE='Vendor:Device = %04X:%04X\n'
# Written before the first key is read.
USBPROBE_PROMPT='\nTaste druecken fuer Pruefung ob 1A86:7523 offen ist.\n\n'
# The report when the bridge was opened: then the handle's value, signed decimal.
USBPROBE_OPENED='Offen ... HANDLE_WERT: '
# The report when it was not.
USBPROBE_CLOSED='HANDLE_WERT: 0 ... geschlossen'
