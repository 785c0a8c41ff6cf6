# The encoder's tests compare against libjpeg-turbo (TurboJPEG in process, and
# its cjpeg, djpeg and jpegtran programs); the product never links it.
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE PkgConfig::TURBOJPEG)
find_program(GAVEX_CJPEG cjpeg REQUIRED)
find_program(GAVEX_JPEGTRAN jpegtran REQUIRED)
find_program(GAVEX_FFMPEG ffmpeg REQUIRED)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_CJPEG="${GAVEX_CJPEG}"
                           GAVEX_JPEGTRAN="${GAVEX_JPEGTRAN}" GAVEX_FFMPEG="${GAVEX_FFMPEG}")
