#include "service/safefilename.h"

#include <QStringList>

#include <algorithm>

namespace {

// Characters Windows never allows in a name, besides the controls.
const QString forbiddenCharacters = QStringLiteral("/\\:*?\"<>|");

bool isForbidden(QChar ch)
{
    return ch.unicode() < 0x20 || ch.unicode() == 0x7f || forbiddenCharacters.contains(ch);
}

} // namespace

bool SafeFileName::isSafeComponent(const QString &name)
{
    if (name.isEmpty() || std::any_of(name.cbegin(), name.cend(), isForbidden))
        return false;
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return false;
    return !isDeviceName(name);
}

// Windows opens the device for its name followed by anything from the first dot on, and
// ignores spaces before that dot: "nul .txt" is the null device too.
bool SafeFileName::isDeviceName(const QString &name)
{
    static const QStringList devices { QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
        QStringLiteral("NUL") };
    // COM and LPT take a digit from 1 to 9, or a superscript 1, 2 or 3.
    static const QString portDigits = QStringLiteral("123456789\u00b9\u00b2\u00b3");

    QString base = name.section(QLatin1Char('.'), 0, 0).toUpper();
    while (base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    if (devices.contains(base))
        return true;
    return base.size() == 4
        && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT")))
        && portDigits.contains(base.at(3));
}
