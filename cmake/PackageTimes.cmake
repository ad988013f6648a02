# Read by cpack before it packs: every time stamp in the packages is the last
# commit's, unless SOURCE_DATE_EPOCH says otherwise.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT CPACK_USBPROBE_SOURCE_DATE_EPOCH STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_USBPROBE_SOURCE_DATE_EPOCH})
endif()
