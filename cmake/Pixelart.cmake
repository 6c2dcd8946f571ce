# pixelart_bitmaps(<out-var> [ALPHA] <picture.txt>...): turns text pictures into .bmp files in the
# current binary folder at build time; <out-var> receives the list of .bmp paths. With ALPHA they
# become 32-bit bitmaps with an alpha channel, named <name>-alpha.bmp.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(pixelart_bitmaps out)
  cmake_parse_arguments(ARG "ALPHA" "" "" ${ARGN})
  set(result)
  set(flag)
  set(suffix)
  if(ARG_ALPHA)
    set(flag --alpha)
    set(suffix -alpha)
  endif()
  foreach(src ${ARG_UNPARSED_ARGUMENTS})
    get_filename_component(abs ${src} ABSOLUTE)
    get_filename_component(name ${src} NAME_WE)
    set(bmp ${CMAKE_CURRENT_BINARY_DIR}/${name}${suffix}.bmp)
    add_custom_command(
      OUTPUT ${bmp}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/pixelart.py ${flag} ${abs} ${bmp}
      DEPENDS ${abs} ${CMAKE_SOURCE_DIR}/scripts/pixelart.py
      COMMENT "picture ${name}"
      VERBATIM)
    list(APPEND result ${bmp})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()
