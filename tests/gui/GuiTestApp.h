#pragma once
// The one QApplication of the GUI suites, in UTC with the C locale, so that
// written times do not depend on the machine.

#include <cstdlib>
#include <ctime>
#include <locale>

#include <QApplication>

namespace guitest {

inline QApplication& Application()
{
    static QApplication* app = [] {
        setenv("TZ", "UTC", 1);
        tzset();
        std::locale::global(std::locale::classic());
        static int argc = 1;
        static char name[] = "test_gui";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

}  // namespace guitest
