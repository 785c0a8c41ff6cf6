# The OpenGL helpers are drawn through a software EGL context.
find_package(OpenGL REQUIRED COMPONENTS EGL)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE OpenGL::EGL)
# Text is drawn with the tests' own font (DejaVu Sans, as the skin ships it)
# through a fontconfig file of their own, so that pixel counts of drawn text
# do not depend on the fonts installed on the machine.
set(GAVEX_TEST_FONT_DIR ${CMAKE_CURRENT_BINARY_DIR}/render-fonts)
file(MAKE_DIRECTORY ${GAVEX_TEST_FONT_DIR})
configure_file(${GAVEX_DEJAVU_SANS} ${GAVEX_TEST_FONT_DIR}/DejaVuSans.ttf COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/tests/render/fonts.conf.in ${GAVEX_TEST_FONT_DIR}/fonts.conf @ONLY)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_TEST_FONTCONFIG="${GAVEX_TEST_FONT_DIR}/fonts.conf")
