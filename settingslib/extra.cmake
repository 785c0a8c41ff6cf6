# Export exactly the ten C functions: the version script also hides the
# template instantiations of the standard library that would otherwise leak
# out with default visibility. Nothing may stay unresolved at link time.
target_link_options(Cantorel64 PRIVATE "-Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/Cantorel64.map")
if(NOT GAVEX_SHARED_LIBS_NEED_PROGRAM)
  target_link_options(Cantorel64 PRIVATE "-Wl,--no-undefined")
endif()
set_property(TARGET Cantorel64 APPEND PROPERTY LINK_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/Cantorel64.map)
