# The grid tests draw titles in the shipped skin's font, read from the
# Resources folder of the build.
add_dependencies(${GAVEX_TEST_TARGET} gavex_skin)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_SKIN_ROOT="${PROJECT_BINARY_DIR}/")
