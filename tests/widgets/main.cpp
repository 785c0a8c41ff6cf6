// The widget tests run in one fixed zone with summer time and one fixed
// locale, so texts and local times do not depend on the machine. Qt reads the
// locale from LC_ALL itself, so the glibc locale need not be generated.
#include <cstdlib>
#include <ctime>

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  setenv("LC_ALL", "en_GB.UTF-8", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
