#pragma once
// Fixed texts of the application that lower layers format with.

#include <QString>

// boost date_time facet format of the frame-time title: the locale's time, a
// line break, a blank and the locale's date.
QString TimestampFormat();
