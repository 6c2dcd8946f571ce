# idl_compile(<prefix> <idl> [DEPENDS files...] [INCLUDES dirs...] [HEADER_DEFINES defs...])
# Runs widl over one IDL file into <build>/<name>_h.h, <name>_i.c and <name>.tlb.
# The header is made with HEADER_DEFINES set (-D), so that an IDL can keep out of
# the C++ header what only the type library should carry.
# Sets <prefix>_HEADER, <prefix>_IID_C and <prefix>_TLB in the caller's scope.
set(WINE_IDL_DIR /usr/include/wine/wine/windows)
# stdole2.tlb of the host's (64-bit) Wine serves the 32-bit type libraries too.
set(WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WIDL_ARCH -m64)
else()
  set(WIDL_ARCH -m32)
endif()

function(idl_compile prefix idl)
  cmake_parse_arguments(ARG "" "" "DEPENDS;INCLUDES;HEADER_DEFINES" ${ARGN})
  get_filename_component(name ${idl} NAME_WE)
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR})
  set(flags ${WIDL_ARCH} -I ${WINE_IDL_DIR} -I ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(d ${ARG_INCLUDES})
    list(APPEND flags -I ${d})
  endforeach()
  set(hdefs)
  foreach(d ${ARG_HEADER_DEFINES})
    list(APPEND hdefs -D${d})
  endforeach()
  add_custom_command(
    OUTPUT ${out}/${name}_h.h ${out}/${name}_i.c
    COMMAND ${WIDL} ${flags} ${hdefs} -h -H ${out}/${name}_h.h -u -U ${out}/${name}_i.c ${idl_abs}
    DEPENDS ${idl_abs} ${ARG_DEPENDS}
    COMMENT "widl ${name}.idl (header)"
    VERBATIM)
  add_custom_command(
    OUTPUT ${out}/${name}.tlb
    COMMAND ${WIDL} ${flags} -L ${WINE_TLB_DIR} -t -T ${out}/${name}.tlb ${idl_abs}
    DEPENDS ${idl_abs} ${ARG_DEPENDS}
    COMMENT "widl ${name}.idl (type library)"
    VERBATIM)
  set(${prefix}_HEADER ${out}/${name}_h.h PARENT_SCOPE)
  set(${prefix}_IID_C ${out}/${name}_i.c PARENT_SCOPE)
  set(${prefix}_TLB ${out}/${name}.tlb PARENT_SCOPE)
endfunction()
