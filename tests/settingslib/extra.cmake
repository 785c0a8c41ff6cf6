# The export tests load the built library by path; the internal tests compile
# the library's sources straight into the test (its symbols are hidden in the
# shared object). The exported functions stay in the shared object only.
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE
  CANTOREL_LIB="$<TARGET_FILE:Cantorel64>")
add_dependencies(${GAVEX_TEST_TARGET} Cantorel64)
file(GLOB _cantorel_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/settingslib/*.cpp)
list(FILTER _cantorel_sources EXCLUDE REGEX "/Exports\\.cpp$")
target_sources(${GAVEX_TEST_TARGET} PRIVATE ${_cantorel_sources})
