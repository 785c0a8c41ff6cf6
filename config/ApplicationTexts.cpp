#include "config/ApplicationTexts.h"

#include "config/QApplicationSettings.h"
#include "config/QLocalizer.h"

QString ApplicationDisplayName()
{
    const std::wstring title = QApplicationSettings::Instance().AppTitle;
    if (!title.empty())
        return QString::fromStdWString(title);
    return QLocalizer::tr("Gavex Player");
}

QString CompanyProductPath()
{
    return QLocalizer::tr("GavexSoft/GavexPlayer");
}

QString RegistryProductPath()
{
    return QLocalizer::tr("QOR/Vindara");
}

QString PrintDialogTitle()
{
    return QLocalizer::tr("Print");
}

QString PasswordPromptText()
{
    return QLocalizer::tr("Enter password:");
}

QString InvalidPasswordText()
{
    return QLocalizer::tr("Invalid password!");
}

std::wstring RegistryProductKey()
{
    return RegistryProductPath().replace('/', '\\').toStdWString();
}

QString TimestampFormat()
{
    return QStringLiteral("%X\n %x");
}

QString TimeFormatShort()
{
    return QStringLiteral("%X");
}

QString TimeFormatWithFraction()
{
    return QStringLiteral("%X%F");
}
