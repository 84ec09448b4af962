#include "history/historystore.h"
#include "history/taskliststore.h"
#include "service/scancode.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

HistoryEntry ncFetch(const QString &task, const QStringList &files, bool ok = true)
{
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = QString::fromLatin1(HistoryEntry::fetchAction);
    entry.task = task;
    entry.kind = QStringLiteral("nc");
    entry.target = QStringLiteral("/prog/nc/") + task;
    entry.ok = ok;
    for (const QString &path : files)
        entry.files << HistoryFile { path, 10, QString() };
    return entry;
}

QVariantList tasksNamed(const QStringList &numbers)
{
    QVariantList tasks;
    for (const QString &number : numbers)
        tasks << QVariantMap { { QStringLiteral("task_num"), number } };
    return tasks;
}

} // namespace

class tst_ScanCode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decide_data();
    void decide();

private:
    QTemporaryDir m_dir;
    const QDate m_today { 2026, 12, 9 };
};

// A100 and B200 both hold PART1; C300's OLD is no longer in place, nor is D400's failed fetch.
void tst_ScanCode::initTestCase()
{
    QList<HistoryEntry> entries { ncFetch("A100", { "PART1.nc", "sub/PART2.nc", "x.nc" }),
        ncFetch("B200", { "part1.NC" }), ncFetch("C300", { "OLD.nc" }), ncFetch("C300", { "NEW.nc" }),
        ncFetch("D400", { "FAIL.nc" }, false) };
    QVERIFY(HistoryStore(m_dir.path()).add(entries));
    QVERIFY(TaskListStore(m_dir.path())
                .save("7", m_today.addDays(-1), tasksNamed({ "Z900" }), QDateTime::currentDateTime()));
}

void tst_ScanCode::decide_data()
{
    using Result = ScanCode::Result;
    QTest::addColumn<QString>("code");
    QTest::addColumn<Result>("expected");
    QTest::addColumn<QString>("found");
    QTest::newRow("a task number typed with Caps Lock on") << "b200\r\n" << Result::Task << "B200";
    QTest::newRow("a task of another kept day") << "z900" << Result::TaskOtherDay << "Z900";
    QTest::newRow("a file name with its extension") << "part2.nc" << Result::File << "A100:sub/PART2.nc";
    QTest::newRow("a file name in two tasks") << "Part1" << Result::Files << "A100:PART1.nc B200:part1.NC";
    QTest::newRow("a file only an older version held") << "OLD" << Result::Unknown << "";
    QTest::newRow("a file of a failed fetch") << "FAIL" << Result::Unknown << "";
    QTest::newRow("an unknown code") << "4711" << Result::Unknown << "";
    QTest::newRow("a path climbing out") << "..\\..\\x" << Result::Unknown << "";
    QTest::newRow("a control character") << "A1\a00" << Result::Refused << "";
    QTest::newRow("a direction override") << QString::fromUtf8("A1\u202e00") << Result::Refused << "";
    QTest::newRow("128 characters") << QString(128, 'A') << Result::Unknown << "";
    QTest::newRow("129 characters") << QString(129, 'A') << Result::Refused << "";
}

void tst_ScanCode::decide()
{
    QFETCH(QString, code);
    QFETCH(ScanCode::Result, expected);
    QFETCH(QString, found);
    TaskListStore lists(m_dir.path());
    HistoryFileIndex files(m_dir.path());
    const ScanCode::Match match
        = ScanCode(&lists, &files).decide(code, "7", m_today, tasksNamed({ "A100", "B200" }));
    QCOMPARE(match.result, expected);
    QStringList named;
    if (!match.task.isEmpty())
        named << match.task.value("task_num").toString();
    for (const HistoryFileIndex::Hit &hit : match.files) {
        QCOMPARE(hit.folder, "/prog/nc/" + hit.task);
        named << hit.task + ':' + hit.path;
    }
    QCOMPARE(named.join(' '), found);
    QCOMPARE(match.day.isValid(), !match.task.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ScanCode)
#include "tst_scancode.moc"
