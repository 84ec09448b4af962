#include "service/safefilename.h"

#include <QtTest>

class tst_SafeFileName : public QObject
{
    Q_OBJECT

private slots:
    void isSafeComponent_data();
    void isSafeComponent();
};

void tst_SafeFileName::isSafeComponent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("task-number") << "T-2026-0042" << true;
    QTest::newRow("chinese") << QString::fromUtf8("左侧板 面板.nc") << true;
    QTest::newRow("dots-inside") << "a..b.nc" << true;
    QTest::newRow("hidden") << ".settings" << true;
    QTest::newRow("device-prefix-only") << "CONSOLE.nc" << true;
    QTest::newRow("com0-is-no-port") << "COM0" << true;
    QTest::newRow("com10-is-no-port") << "COM10.nc" << true;
    QTest::newRow("space-before-device") << " CON" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("current") << "." << false;
    QTest::newRow("parent") << ".." << false;
    QTest::newRow("dots-and-spaces") << ". ." << false;
    QTest::newRow("trailing-dot") << "x." << false;
    QTest::newRow("trailing-dot-space") << "x. " << false;
    QTest::newRow("trailing-space") << "panel " << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("backslash") << "a\\b" << false;
    QTest::newRow("drive") << "c:panel.nc" << false;
    QTest::newRow("stream") << "panel.nc:hidden" << false;
    QTest::newRow("wildcard") << "panel*.nc" << false;
    QTest::newRow("question-mark") << "panel?.nc" << false;
    QTest::newRow("pipe") << "a|b" << false;
    QTest::newRow("control") << QStringLiteral("a\x01") << false;
    QTest::newRow("nul-character") << QString("a") + QChar(0) + QString("b") << false;
    QTest::newRow("con") << "CON" << false;
    QTest::newRow("prn-lower") << "prn" << false;
    QTest::newRow("aux-extension") << "aux.nc" << false;
    QTest::newRow("nul-two-extensions") << "NUL.tar.gz" << false;
    QTest::newRow("nul-space-before-dot") << "nul .txt" << false;
    QTest::newRow("com1") << "COM1" << false;
    QTest::newRow("com9-extension") << "com9.pdf" << false;
    QTest::newRow("com-superscript") << QString::fromUtf8("COM\u00b9") << false;
    QTest::newRow("lpt1") << "LPT1" << false;
    QTest::newRow("lpt9-extension") << "Lpt9.zip" << false;
}

void tst_SafeFileName::isSafeComponent()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);
    QCOMPARE(SafeFileName::isSafeComponent(name), safe);
}

QTEST_GUILESS_MAIN(tst_SafeFileName)
#include "tst_safefilename.moc"
