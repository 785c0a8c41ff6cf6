# The archive channel tests decode H.264 through the codec add-on built by
# the project.
add_dependencies(${GAVEX_TEST_TARGET} Harnway)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_ADDON_DIR="$<TARGET_FILE_DIR:Harnway>")
