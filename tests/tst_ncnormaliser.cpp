#include "history/ncnormaliser.h"

#include <QtTest>

class tst_NcNormaliser : public QObject
{
    Q_OBJECT

private slots:
    void readsAlike_data();
    void readsAlike();
};

void tst_NcNormaliser::readsAlike_data()
{
    QTest::addColumn<QString>("older");
    QTest::addColumn<QString>("newer");
    QTest::addColumn<bool>("integerIsUnit");
    QTest::addColumn<bool>("alike");

    QTest::newRow("block numbers are dropped") << "N10 G01 X1."
                                               << "N20G01X1." << false << true;
    QTest::newRow("a comment in parentheses is dropped") << "G00 X1. (快速)"
                                                         << "G00 X1.(RAPID) " << false << true;
    QTest::newRow("a semicolon comment runs to the end") << "M03 S1200 ; spindle"
                                                         << "M03 S1200" << false << true;
    QTest::newRow("a line that is only a comment reads as nothing") << "(TOOL 1)"
                                                                    << "" << false << true;
    QTest::newRow("spaces and tabs are dropped") << "G01\tX 10. Y 2."
                                                 << "G01X10.Y2." << false << true;
    QTest::newRow("letters in one case") << "g01 x1."
                                         << "G01 X1." << false << true;
    QTest::newRow("X100. X100.0 X+100.000 are one value") << "X100. Y+100.000"
                                                          << "X100.0 Y100." << false << true;
    QTest::newRow("rounding carries and drops a negative zero") << "X9.9996 Z-.0004"
                                                                << "X10. Z0." << false << true;
    QTest::newRow("a value that differs in the third decimal") << "X100.001"
                                                               << "X100." << false << false;
    QTest::newRow("an integer is not a millimetre value") << "X100"
                                                          << "X100.0" << false << false;
    QTest::newRow("an integer is kept as written") << "G01"
                                                   << "G1" << false << false;
    QTest::newRow("integers in millimetres read as values") << "X100 Y-5"
                                                            << "X100.0 Y-5.000" << true << true;
    QTest::newRow("a plus between terms is an operator") << "#1=#2+1.5"
                                                         << "#1=#21.5" << false << false;
    QTest::newRow("a real difference") << "N30 G01 X100. F200"
                                       << "N30 G01 X101. F200" << false << false;
}

void tst_NcNormaliser::readsAlike()
{
    QFETCH(QString, older);
    QFETCH(QString, newer);
    QFETCH(bool, integerIsUnit);
    QFETCH(bool, alike);
    const NcNormaliser normaliser(integerIsUnit);
    QCOMPARE(normaliser.normalise(older) == normaliser.normalise(newer), alike);
}

QTEST_GUILESS_MAIN(tst_NcNormaliser)
#include "tst_ncnormaliser.moc"
