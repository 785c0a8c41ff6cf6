# The program and the sample archive maker, which the whole-program tests
# start.
add_dependencies(${GAVEX_TEST_TARGET} Gavex_player gavex_sample_archive)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_PLAYER_PROGRAM="$<TARGET_FILE:Gavex_player>"
  GAVEX_SAMPLE_ARCHIVE_TOOL="$<TARGET_FILE:gavex_sample_archive>")
