# The widgets carry Qt signals and slots; the widget tests need the library's moc output.
set_target_properties(gavex_widgets PROPERTIES AUTOMOC ON)
# A folder of its own, so the Resources/ the tests write beside the program
# is theirs alone. The shipped skin's folder is passed for the tests that
# check it.
set_target_properties(${GAVEX_TEST_TARGET} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/widgets)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_SKIN_ROOT="${PROJECT_BINARY_DIR}/")
# Key and mouse events are sent with QtTest.
find_package(Qt5 5.15 REQUIRED COMPONENTS Test)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE Qt5::Test)
