# What every binary we ship carries, applied from the top-level CMakeLists.txt:
#
#   ship_binary(<target> <description> [SELF_REGISTERING])
#
# - the product's version (project(... VERSION ...), the one place it is written) in a version
#   resource made from cmake/version.rc.in;
# - the platform floor (PLATFORM_FLOOR, e.g. 0x0601 for Windows 7) as the oldest operating system
#   and subsystem version in the PE header, which is what the loader and the installer read;
# - an entry in SHIPPED_BINARIES, the list the import check (scripts/check-imports.py) and the
#   package read.
set_property(GLOBAL PROPERTY SHIPPED_BINARIES "")

function(ship_binary target description)
  cmake_parse_arguments(ARG "SELF_REGISTERING" "" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "SHARED_LIBRARY")
    set(SHIP_FILETYPE VFT_DLL)
    set(SHIP_FILE ${name}.dll)
  else()
    set(SHIP_FILETYPE VFT_APP)
    set(SHIP_FILE ${name}.exe)
  endif()
  set(SHIP_NAME ${name})
  set(SHIP_DESCRIPTION "${description}")
  set(SHIP_EXTRA_VALUES "")
  if(ARG_SELF_REGISTERING)
    set(SHIP_EXTRA_VALUES "      VALUE \"OLESelfRegister\", \"\"\n")
  endif()
  set(rc ${CMAKE_BINARY_DIR}/version/${name}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})

  math(EXPR major "${PLATFORM_FLOOR} >> 8")
  math(EXPR minor "${PLATFORM_FLOOR} & 255")
  target_link_options(${target} PRIVATE
    -Wl,--major-os-version,${major} -Wl,--minor-os-version,${minor}
    -Wl,--major-subsystem-version,${major} -Wl,--minor-subsystem-version,${minor})
  set_property(GLOBAL APPEND PROPERTY SHIPPED_BINARIES ${SHIP_FILE})
endfunction()
