#pragma once
// The application's shared texts. Translatable ones are translated in the
// "QLocalizer" context; the time formats are fixed.

#include <string>

#include <QString>

// The AppTitle setting when it is not empty, else the (translated) product name.
QString ApplicationDisplayName();
QString CompanyProductPath();   // "GavexSoft/GavexPlayer"
QString RegistryProductPath();  // "QOR/Vindara"
QString PrintDialogTitle();     // "Print"
QString PasswordPromptText();   // "Enter password:"
QString InvalidPasswordText();  // "Invalid password!"
// RegistryProductPath with "\" separators.
std::wstring RegistryProductKey();

// boost date_time facet format of the frame-time title: the locale's time, a
// line break, a blank and the locale's date.
QString TimestampFormat();
QString TimeFormatShort();         // "%X"
QString TimeFormatWithFraction();  // "%X%F"
