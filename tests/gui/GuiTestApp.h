#pragma once
// The application object of the GUI suites. main.cpp makes it, with the zone
// and locale every suite runs in; a suite asks for it here.

#include <QApplication>

namespace guitest {

inline QApplication& Application()
{
    return *qApp;
}

}  // namespace guitest
