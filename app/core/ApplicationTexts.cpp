#include "app/core/ApplicationTexts.h"

QString TimestampFormat()
{
    return QStringLiteral("%X\n %x");
}
