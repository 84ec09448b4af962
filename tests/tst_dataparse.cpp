#include "service/dataparse.h"
#include "service/errorinfo.h"

#include <QtTest>

class tst_DataParse : public QObject
{
    Q_OBJECT

private slots:
    void jsonToVariant_data();
    void jsonToVariant();
    void notJsonGivesEmptyMap_data();
    void notJsonGivesEmptyMap();
    void variantToJsonRoundTrip_data();
    void variantToJsonRoundTrip();
    void variantToJsonOfEmptyMap();
};

void tst_DataParse::jsonToVariant_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("object") << R"({"status":1,"data":{"id":"1001"}})"
                            << QVariant(QVariantMap {
                                   { "status", 1 }, { "data", QVariantMap { { "id", "1001" } } } });
    QTest::newRow("object with surrounding blanks")
        << " \n{\"a\":\"b\"}\n " << QVariant(QVariantMap { { "a", "b" } });
    QTest::newRow("array") << R"([1,"two",true])" << QVariant(QVariantList { 1, "two", true });
    QTest::newRow("chinese text") << QString::fromUtf8("{\"msg\":\"\xe7\x99\xbb\xe5\xbd\x95\"}")
                                  << QVariant(QVariantMap {
                                         { "msg", QString::fromUtf8("\xe7\x99\xbb\xe5\xbd\x95") } });
    QTest::newRow("number") << "5" << QVariant(5);
    QTest::newRow("text") << "\"x\"" << QVariant(QStringLiteral("x"));
    QTest::newRow("true") << "true" << QVariant(true);
}

void tst_DataParse::jsonToVariant()
{
    QFETCH(QString, json);
    QFETCH(QVariant, expected);

    ErrorInfo error(7, QStringLiteral("stale"));
    const QVariant result = DataParse::jsonToVariant(json, &error);
    QCOMPARE(result, expected);
    QVERIFY(!error.hasError());
    QCOMPARE(DataParse::jsonToVariant(json, nullptr), expected);
}

void tst_DataParse::notJsonGivesEmptyMap_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<bool>("isError");

    QTest::newRow("empty") << "" << true;
    QTest::newRow("blanks") << "  \n" << true;
    QTest::newRow("html page") << "<html><body>502</body></html>" << true;
    QTest::newRow("truncated object") << R"({"status":1,"data":[)" << true;
    QTest::newRow("two documents") << "{} {}" << true;
    QTest::newRow("two scalars") << "1,2" << true;
    QTest::newRow("bracket smuggling") << "1],[2" << true;
    QTest::newRow("empty array") << "[]" << false;
    QTest::newRow("null") << "null" << false;
    QTest::newRow("array of objects") << R"([{"status":1}])" << false;
}

void tst_DataParse::notJsonGivesEmptyMap()
{
    QFETCH(QString, json);
    QFETCH(bool, isError);

    if (isError && !json.trimmed().isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^DataParse: not JSON:"));
    ErrorInfo error;
    const QVariant result = DataParse::jsonToVariant(json, &error);
    QVERIFY(result.toMap().isEmpty());
    QCOMPARE(error.hasError(), isError);
    if (isError) {
        QVERIFY(!result.isValid());
        QVERIFY(!error.message().isEmpty());
        QVERIFY(error.offset() >= 0);
    }
}

void tst_DataParse::variantToJsonRoundTrip_data()
{
    QTest::addColumn<QVariant>("value");

    QTest::newRow("device record") << QVariant(
        QVariantMap { { "name", QString::fromUtf8("\xe8\xbd\xa6\xe9\x97\xb4 A&B+C=D%E") }, { "uid", "1001" },
            { "power", 2 } });
    QTest::newRow("nested list and map")
        << QVariant(QVariantMap { { "list", QVariantList { 1, "x", QVariantMap { { "k", true } } } } });
    QTest::newRow("quotes and backslashes") << QVariant(QVariantMap { { "q", "say \"hi\" \\ \n" } });
    QTest::newRow("list") << QVariant(QVariantList { 1, 2, 3 });
    QTest::newRow("scalar text") << QVariant(QStringLiteral("plain"));
}

void tst_DataParse::variantToJsonRoundTrip()
{
    QFETCH(QVariant, value);

    const QString json = DataParse::variantToJson(value);
    QVERIFY(!json.isEmpty());
    QCOMPARE(DataParse::jsonToVariant(json, nullptr), value);
}

void tst_DataParse::variantToJsonOfEmptyMap()
{
    QCOMPARE(DataParse::variantToJson(QVariant(QVariantMap())), QStringLiteral("{}"));
}

QTEST_GUILESS_MAIN(tst_DataParse)
#include "tst_dataparse.moc"
