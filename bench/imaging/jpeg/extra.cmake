# The reference encoder of the benchmarks; the product never links it.
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
target_link_libraries(${name} PRIVATE PkgConfig::TURBOJPEG)
