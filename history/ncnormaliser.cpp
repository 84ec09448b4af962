#include "history/ncnormaliser.h"

namespace {

constexpr int decimals = 3;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isDigitAt(const QString &text, int at)
{
    return at < text.size() && isDigit(text.at(at));
}

// A sign belongs to the number after an address letter or where an expression starts;
// elsewhere ("#2+1.5") it is an operator and stays as written.
bool canTakeSign(const QString &text, int at)
{
    if (at == 0)
        return true;
    const QChar before = text.at(at - 1);
    return before.isLetter() || before == QLatin1Char('=') || before == QLatin1Char(',')
        || before == QLatin1Char('[');
}

} // namespace

NcNormaliser::NcNormaliser(bool integerIsUnit)
    : m_integerIsUnit(integerIsUnit)
{ }

QString NcNormaliser::normalise(const QString &line) const
{
    const QString text = withoutCommentsAndSpaces(line);
    QString out;
    out.reserve(text.size() + 8);
    int at = 0;
    while (at < text.size()) {
        if (text.at(at) == QLatin1Char('N') && (at == 0 || !text.at(at - 1).isLetter())
            && isDigitAt(text, at + 1))
            at = blockNumberEnd(text, at);
        else if (startsNumber(text, at))
            at = appendNumber(text, at, out);
        else
            out += text.at(at++);
    }
    return out;
}

// A comment left open runs to the end of the line, as the controls read it.
QString NcNormaliser::withoutCommentsAndSpaces(const QString &line)
{
    QString text;
    text.reserve(line.size());
    bool inComment = false;
    for (const QChar c : line) {
        if (inComment) {
            inComment = c != QLatin1Char(')');
        } else if (c == QLatin1Char('(')) {
            inComment = true;
        } else if (c == QLatin1Char(';')) {
            break;
        } else if (!c.isSpace()) {
            text += c.toUpper();
        }
    }
    return text;
}

int NcNormaliser::blockNumberEnd(const QString &text, int at)
{
    ++at;
    while (isDigitAt(text, at))
        ++at;
    return at;
}

bool NcNormaliser::startsNumber(const QString &text, int at)
{
    const QChar c = text.at(at);
    if (isDigit(c))
        return true;
    if (c == QLatin1Char('.'))
        return isDigitAt(text, at + 1);
    if ((c != QLatin1Char('+') && c != QLatin1Char('-')) || !canTakeSign(text, at))
        return false;
    return isDigitAt(text, at + 1)
        || (at + 1 < text.size() && text.at(at + 1) == QLatin1Char('.') && isDigitAt(text, at + 2));
}

// Appends the number starting at at and returns where it ends.
int NcNormaliser::appendNumber(const QString &text, int at, QString &out) const
{
    int end = at;
    const bool hasSign = text.at(end) == QLatin1Char('+') || text.at(end) == QLatin1Char('-');
    const bool negative = text.at(end) == QLatin1Char('-');
    if (hasSign)
        ++end;
    const int wholeStart = end;
    while (isDigitAt(text, end))
        ++end;
    const QString whole = text.mid(wholeStart, end - wholeStart);
    if (end < text.size() && text.at(end) == QLatin1Char('.')) {
        const int fractionStart = ++end;
        while (isDigitAt(text, end))
            ++end;
        out += roundedValue(negative, whole, text.mid(fractionStart, end - fractionStart));
    } else if (m_integerIsUnit) {
        out += roundedValue(negative, whole, QString());
    } else {
        out += text.midRef(at, end - at);
    }
    return end;
}

// Rounded in decimal digits, half away from zero, so that no binary fraction gets in the
// way ("0.0005" becomes "0.001") and any length of number is taken.
QString NcNormaliser::roundedValue(bool negative, QString whole, QString fraction)
{
    const bool roundUp = fraction.size() > decimals && fraction.at(decimals) >= QLatin1Char('5');
    fraction = fraction.leftJustified(decimals, QLatin1Char('0'), true);
    QString digits = whole + fraction;
    for (int i = digits.size() - 1; roundUp && i >= 0; --i) {
        const bool carry = digits.at(i) == QLatin1Char('9');
        digits[i] = carry ? QLatin1Char('0') : QChar(digits.at(i).unicode() + 1);
        if (!carry)
            break;
        if (i == 0)
            digits.prepend(QLatin1Char('1'));
    }
    int firstSignificant = 0;
    while (firstSignificant < digits.size() && digits.at(firstSignificant) == QLatin1Char('0'))
        ++firstSignificant;
    const bool zero = firstSignificant == digits.size();
    const int wholeDigits = digits.size() - decimals;
    QString value = firstSignificant < wholeDigits ? digits.left(wholeDigits).mid(firstSignificant)
                                                   : QStringLiteral("0");
    value += QLatin1Char('.') + digits.right(decimals);
    return negative && !zero ? QLatin1Char('-') + value : value;
}
