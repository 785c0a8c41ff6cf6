# The sample archive that scripts/play.sh plays, made by the test archive
# writers.
add_executable(gavex_sample_archive ${PROJECT_SOURCE_DIR}/tests/app/sample/make_sample_archive.cpp)
target_link_libraries(gavex_sample_archive PRIVATE gavex_testsupport)
set_target_properties(gavex_sample_archive PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
add_dependencies(${GAVEX_TEST_TARGET} gavex_sample_archive)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_SAMPLE_ARCHIVE_TOOL="$<TARGET_FILE:gavex_sample_archive>")
# The program itself, which the whole-program tests start.
add_dependencies(${GAVEX_TEST_TARGET} Gavex_player)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_PLAYER_PROGRAM="$<TARGET_FILE:Gavex_player>")
