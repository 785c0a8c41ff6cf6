# The encoder's tests compare against libjpeg-turbo (TurboJPEG in process, and
# its cjpeg, djpeg and jpegtran programs); the product never links it.
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE PkgConfig::TURBOJPEG)
find_program(GAVEX_CJPEG cjpeg REQUIRED)
find_program(GAVEX_JPEGTRAN jpegtran REQUIRED)
find_program(GAVEX_DJPEG djpeg REQUIRED)
find_program(GAVEX_FFMPEG ffmpeg REQUIRED)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE GAVEX_CJPEG="${GAVEX_CJPEG}"
                           GAVEX_JPEGTRAN="${GAVEX_JPEGTRAN}" GAVEX_DJPEG="${GAVEX_DJPEG}" GAVEX_FFMPEG="${GAVEX_FFMPEG}")

# The decoder's fuzz target, replayed over its seed corpus and the crash
# files fuzzing has found, with the decoder compiled in under Address and
# UndefinedBehavior sanitizers (fuzzing itself: scripts/fuzz-jpeg.sh, clang).
set(_fuzz_dir ${CMAKE_CURRENT_LIST_DIR}/fuzz)
file(GLOB _fuzz_primitives CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/imaging/primitives/*.cpp)
add_executable(jpeg_fuzz_replay ${_fuzz_dir}/JpegDecodeFuzz.cpp ${_fuzz_dir}/ReplayMain.cpp ${_fuzz_primitives}
  ${PROJECT_SOURCE_DIR}/imaging/jpeg/JpegDecoder.cpp ${PROJECT_SOURCE_DIR}/imaging/jpeg/JpegFrameDecompressor.cpp
  ${PROJECT_SOURCE_DIR}/imaging/jpeg/JpegStreams.cpp ${PROJECT_SOURCE_DIR}/imaging/jpeg/JpegTables.cpp)
target_include_directories(jpeg_fuzz_replay PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(jpeg_fuzz_replay PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                       -fno-omit-frame-pointer)
target_link_options(jpeg_fuzz_replay PRIVATE -fsanitize=address,undefined)
target_link_libraries(jpeg_fuzz_replay PRIVATE Threads::Threads)
add_test(NAME "imaging/jpeg:FuzzCorpusReplay" COMMAND jpeg_fuzz_replay ${_fuzz_dir}/corpus ${_fuzz_dir}/crashes)
set_tests_properties("imaging/jpeg:FuzzCorpusReplay" PROPERTIES
  ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  TIMEOUT 300)
