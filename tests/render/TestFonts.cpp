// Points fontconfig at the tests' own configuration before anything in this
// program starts Qt: text is drawn with the one font shipped with the tests.
#include <cstdlib>

namespace {

const bool kOwnFonts = [] {
    ::setenv("FONTCONFIG_FILE", GAVEX_TEST_FONTCONFIG, 1);
    return true;
}();

}  // namespace
