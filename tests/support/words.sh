# shellcheck shell=sh disable=SC2034 # the words are for the scripts that source this file
# What the tool writes, byte for byte: the one place every test takes its words
# from. Each is a printf format (\n: one line end), for the shell's printf and
# C's alike. Shell tests source this file; the C++ tests get each as a string
# macro of the same name from the header words.h (tests/support/runners.cmake).
# One line per device, with its vendor and product ID.
USBPROBE_LIST_LINE='Vendor:Device = %04X:%04X\n'
# Written before the first key is read.
USBPROBE_PROMPT='\nTaste druecken fuer Pruefung ob 1A86:7523 offen ist.\n\n'
# The report when the bridge was opened: then the handle's value, signed decimal.
USBPROBE_OPENED='Offen ... HANDLE_WERT: '
# The report when it was not.
USBPROBE_CLOSED='HANDLE_WERT: 0 ... geschlossen'
