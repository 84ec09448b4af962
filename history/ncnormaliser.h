#ifndef NCNORMALISER_H
#define NCNORMALISER_H

#include <QString>

// One line of an NC program as a comparison sees it: block numbers (N words) and comments
// ("( ... )" and "; ..." to the end of the line) dropped, spaces dropped, letters in upper
// case, and a number written with a decimal point as its value rounded to 3 decimals, so
// that "X100.", "X100.0" and "X+100.000" read alike. A number without a decimal point is
// kept as written: on a control without decimal-point programming "X100" is 100 least
// increments, not 100 mm. Where the shop's controls take it as millimetres (integerIsUnit),
// it is read as a value too, so that "X100" and "X100.0" read alike.
class NcNormaliser
{
public:
    explicit NcNormaliser(bool integerIsUnit = false);

    QString normalise(const QString &line) const;

private:
    static QString withoutCommentsAndSpaces(const QString &line);
    int appendNumber(const QString &text, int at, QString &out) const;
    static int blockNumberEnd(const QString &text, int at);
    static bool startsNumber(const QString &text, int at);
    static QString roundedValue(bool negative, QString whole, QString fraction);

    bool m_integerIsUnit;
};

#endif // NCNORMALISER_H
