# Key and mouse events are sent with QtTest.
find_package(Qt5 5.15 REQUIRED COMPONENTS Test)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE Qt5::Test)
# The panels load their skin from Resources/ beside the program: the test
# runs from a folder of its own that links to the skin the build draws. The
# grid tests draw titles in the shipped skin's font, read from the Resources
# folder of the build.
set(_gui_test_dir ${CMAKE_CURRENT_BINARY_DIR}/gui)
file(MAKE_DIRECTORY ${_gui_test_dir})
file(CREATE_LINK ${PROJECT_BINARY_DIR}/Resources ${_gui_test_dir}/Resources SYMBOLIC)
# The codec add-on is looked for beside the program and one folder up; the
# source browser's thumbnails decode through it.
file(CREATE_LINK ${PROJECT_BINARY_DIR}/libHarnway.so ${_gui_test_dir}/libHarnway.so SYMBOLIC)
add_dependencies(${GAVEX_TEST_TARGET} Harnway)
set_target_properties(${GAVEX_TEST_TARGET} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${_gui_test_dir})
add_dependencies(${GAVEX_TEST_TARGET} gavex_skin)
# The grid tests name the build's skin folder for its font.
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_SKIN_ROOT="${PROJECT_BINARY_DIR}/")
# The players controller's scripted sources.
target_sources(${GAVEX_TEST_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/tests/playback/PlaybackTestSupport.cpp)
