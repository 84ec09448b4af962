#include "app/logfile.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList passedOn;

void recordingHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    passedOn << message;
}

// The lines of a log file, without their line ends.
QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class tst_LogFile : public QObject
{
    Q_OBJECT

private slots:
    void rotatesBySize();
    void handlerWritesAndPassesOn();
};

// Every file stays within the size, at most three remain, and read oldest first they
// hold an unbroken run of the last lines written.
void tst_LogFile::rotatesBySize()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log/quillet.log");
    const qint64 maxBytes = 200;
    {
        LogFile log(path, maxBytes, 3);
        for (int i = 0; i < 40; ++i)
            log.write(QStringLiteral("line %1").arg(i, 2, 10, QLatin1Char('0')));
    }

    QStringList lines;
    for (const QString &name : { path + ".2", path + ".1", path }) {
        QVERIFY2(QFileInfo(name).size() > 0, qPrintable(name));
        QVERIFY2(QFileInfo(name).size() <= maxBytes, qPrintable(name));
        lines << linesOf(name);
    }
    QVERIFY(!QFileInfo::exists(path + ".3"));
    const QRegularExpression stamped("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} line (\\d\\d)$");
    const int first = 40 - lines.size();
    QVERIFY(first > 0);
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = stamped.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(match.captured(1).toInt(), first + i);
    }
}

void tst_LogFile::handlerWritesAndPassesOn()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log/quillet.log");
    const QtMessageHandler original = qInstallMessageHandler(recordingHandler);
    passedOn.clear();
    {
        LogFile log(path);
        log.install();
        qDebug() << "fetched" << QString::fromUtf8("任务");
        qWarning("cannot write");
    }
    qDebug("after the log");
    qInstallMessageHandler(original);

    const QStringList lines = linesOf(path);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).endsWith(QString::fromUtf8(" debug: fetched \"任务\"")), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).endsWith(" warning: cannot write"), qPrintable(lines.at(1)));
    QCOMPARE(
        passedOn, QStringList({ QString::fromUtf8("fetched \"任务\""), "cannot write", "after the log" }));
}

QTEST_GUILESS_MAIN(tst_LogFile)
#include "tst_logfile.moc"
