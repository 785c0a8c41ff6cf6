# The widgets carry Qt signals and slots; the widget tests need the library's moc output.
set_target_properties(gavex_app_widgets PROPERTIES AUTOMOC ON)
# Key and mouse events are sent with QtTest.
find_package(Qt5 REQUIRED COMPONENTS Test)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE Qt5::Test)
