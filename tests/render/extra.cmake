# The OpenGL helpers are drawn through a software EGL context.
find_package(OpenGL REQUIRED COMPONENTS EGL)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE OpenGL::EGL)
