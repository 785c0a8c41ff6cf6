// The panel tests run in one fixed zone with summer time and one fixed
// locale, so texts and local times do not depend on the machine. Qt reads the
// locale from LC_ALL itself, so the glibc locale need not be generated. A
// test that needs another locale runs itself again with GAVEX_TEST_LC_ALL.
#include <cstdlib>
#include <ctime>

#include <QApplication>
#include <gtest/gtest.h>

#include "config/ResourcePaths.h"
#include "widgets/SkinResources.h"

int main(int argc, char** argv) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  const char* locale = getenv("GAVEX_TEST_LC_ALL");
  setenv("LC_ALL", locale ? locale : "en_GB.UTF-8", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  RegisterSkinFonts(ApplicationDirectory());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
