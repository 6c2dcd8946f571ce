# pixelart_bitmaps(<out-var> <picture.txt>...): turns text pictures into .bmp files in the
# current binary folder at build time; <out-var> receives the list of .bmp paths.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(pixelart_bitmaps out)
  set(result)
  foreach(src ${ARGN})
    get_filename_component(abs ${src} ABSOLUTE)
    get_filename_component(name ${src} NAME_WE)
    set(bmp ${CMAKE_CURRENT_BINARY_DIR}/${name}.bmp)
    add_custom_command(
      OUTPUT ${bmp}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/pixelart.py ${abs} ${bmp}
      DEPENDS ${abs} ${CMAKE_SOURCE_DIR}/scripts/pixelart.py
      COMMENT "picture ${name}"
      VERBATIM)
    list(APPEND result ${bmp})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()
