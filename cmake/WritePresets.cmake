# Writes CMakePresets.json from the map of the builds (cmake/targets.txt): one
# configure, build, test, package and workflow preset per row, and the
# sanitizer build beside ci. Run it after changing the map:
#   cmake -P cmake/WritePresets.cmake
# With -DCHECK=ON it writes nothing and fails while the file is stale (the
# test presets_follow_the_target_map).
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/Targets.cmake)
get_filename_component(top ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(output ${top}/CMakePresets.json)

set(configure "")
set(build "")
set(test "")
set(package "")
set(workflow "")
set(source_dir "\${sourceDir}")
usbprobe_targets(presets)
list(INSERT presets 1 sanitize)
foreach(preset IN LISTS presets)
  set(generator "")
  if(preset STREQUAL sanitize)
    string(APPEND configure "
    {\"name\": \"sanitize\", \"displayName\": \"Linux, AddressSanitizer and UndefinedBehaviorSanitizer\",
     \"inherits\": \"ci\", \"binaryDir\": \"${source_dir}/build/sanitize\",
     \"cacheVariables\": {\"CMAKE_BUILD_TYPE\": \"Debug\", \"USBPROBE_SANITIZE\": \"ON\", \"USBPROBE_DEBIAN_BUILD_FLAGS\": \"OFF\"}},")
  else()
    usbprobe_target(${preset} processor processor)
    usbprobe_target(${preset} arch arch)
    usbprobe_target(${preset} suite suite)
    usbprobe_target(${preset} qemu_user qemu_user)
    usbprobe_target(${preset} package shipped)
    usbprobe_target(${preset} oldest_cpu oldest_cpu)
    # Every row but ci has its toolchain file (cmake/Targets.cmake checks).
    set(toolchain "")
    if(NOT preset STREQUAL "ci")
      set(toolchain "\n     \"toolchainFile\": \"${source_dir}/cmake/${preset}.cmake\",")
    endif()
    if(shipped STREQUAL "zip")
      set(name "Windows ${processor} console executable (mingw-w64), tested under wine")
      set(variables "\"CMAKE_BUILD_TYPE\": \"MinSizeRel\"")
      set(generator ZIP)
    elseif(shipped STREQUAL "tgz")
      set(name "Linux ${processor}, one static file, cross-built on Debian ${suite}, tested under ${qemu_user} on ${oldest_cpu} and on Debian's kernels")
      set(variables "\"CMAKE_BUILD_TYPE\": \"MinSizeRel\", \"USBPROBE_STATIC\": \"ON\", \"USBPROBE_REAL_KERNEL_TESTS\": \"ON\"")
      set(generator TGZ)
    else()
      if(toolchain)
        set(name "Linux ${arch}, cross-built on Debian ${suite}, tested under ${qemu_user} where this machine cannot run it")
      else()
        set(name "Linux ${arch}, with this machine's compiler")
      endif()
      set(variables "\"CMAKE_BUILD_TYPE\": \"RelWithDebInfo\", \"USBPROBE_REAL_KERNEL_TESTS\": \"ON\"")
      set(generator DEB)
    endif()
    string(APPEND configure "
    {\"name\": \"${preset}\", \"displayName\": \"${name}\",
     \"binaryDir\": \"${source_dir}/build/${preset}\",${toolchain}
     \"cacheVariables\": {${variables}, \"BUILD_TESTING\": \"ON\", \"USBPROBE_PRESET\": \"${preset}\",
                        \"USBPROBE_GUEST_CACHE_DIR\": \"${source_dir}/build/deps/guests\"}},")
  endif()

  string(APPEND build "
    {\"name\": \"${preset}\", \"configurePreset\": \"${preset}\"},")
  if(preset STREQUAL ci)
    string(APPEND test "
    {\"name\": \"ci\", \"configurePreset\": \"ci\",
     \"output\": {\"outputOnFailure\": true, \"outputJUnitFile\": \"junit.xml\"},
     \"execution\": {\"timeout\": 120, \"jobs\": 2}},")
  else()
    string(APPEND test "
    {\"name\": \"${preset}\", \"inherits\": \"ci\", \"configurePreset\": \"${preset}\"},")
  endif()
  set(steps "")
  foreach(type configure build test package)
    if(NOT "${type}" STREQUAL "package" OR generator)
      string(APPEND steps "{\"type\": \"${type}\", \"name\": \"${preset}\"}, ")
    endif()
  endforeach()
  string(REGEX REPLACE ", $" "" steps "${steps}")
  string(APPEND workflow "
    {\"name\": \"${preset}\", \"steps\": [${steps}]},")
  if(generator)
    string(APPEND package "
    {\"name\": \"${preset}\", \"configurePreset\": \"${preset}\", \"generators\": [\"${generator}\"]},")
  endif()
endforeach()

set(json "{
  \"version\": 6,
  \"cmakeMinimumRequired\": {\"major\": 3, \"minor\": 25, \"patch\": 0},")
foreach(kind configure build test package workflow)
  string(REGEX REPLACE ",$" "" ${kind} "${${kind}}")
  string(APPEND json "\n  \"${kind}Presets\": [${${kind}}\n  ],")
endforeach()
string(REGEX REPLACE ",$" "\n}\n" json "${json}")
string(JSON valid ERROR_VARIABLE invalid GET "${json}" version)
if(invalid)
  message(FATAL_ERROR "the presets written would not be JSON: ${invalid}")
endif()
if(CHECK)
  file(READ ${output} written)
  if(NOT written STREQUAL json)
    message(FATAL_ERROR "${output} is not what cmake/targets.txt gives: run cmake -P cmake/WritePresets.cmake")
  endif()
else()
  file(WRITE ${output} "${json}")
endif()
