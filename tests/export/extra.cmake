# The controller's export runs are also shown on the real export panels, and
# a print goes through the application's print code into a PDF.
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE gavex_gui Qt5::Widgets Qt5::PrintSupport)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_SKIN_ROOT="${PROJECT_BINARY_DIR}/")
