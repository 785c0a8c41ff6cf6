# The program and the sample archive maker, which the whole-program tests
# start.
add_dependencies(${GAVEX_TEST_TARGET} Gavex_player gavex_sample_archive)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_PLAYER_PROGRAM="$<TARGET_FILE:Gavex_player>"
  GAVEX_SAMPLE_ARCHIVE_TOOL="$<TARGET_FILE:gavex_sample_archive>")
# The panels load their skin from Resources/ beside the program: the test
# runs from a folder of its own that links to the skin the build draws.
set(_windows_test_dir ${CMAKE_CURRENT_BINARY_DIR}/appwindows)
file(MAKE_DIRECTORY ${_windows_test_dir})
file(CREATE_LINK ${PROJECT_BINARY_DIR}/Resources ${_windows_test_dir}/Resources SYMBOLIC)
set_target_properties(${GAVEX_TEST_TARGET} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${_windows_test_dir})
add_dependencies(${GAVEX_TEST_TARGET} gavex_skin)
# Mouse clicks on the window are sent with QtTest.
find_package(Qt5 5.15 REQUIRED COMPONENTS Test)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE Qt5::Test)
