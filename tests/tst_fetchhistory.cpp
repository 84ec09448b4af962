#include "history/fetchhistory.h"

#include "history/historyconnection.h"
#include "history/startuprecovery.h"
#include "service/fileclaim.h"
#include "service/httptransfer.h"
#include "sim/devicesimulator.h"
#include "tests/support/testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <QtTest>
#include <atomic>
#include <ctime>
#include <limits>
#include <thread>

namespace {

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

// The history a fetch leaves: its entry, the version it replaced and putting that back.
class tst_FetchHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void fetchAddsEntry_data();
    void fetchAddsEntry();
    void failedFetchAddsEntry_data();
    void failedFetchAddsEntry();
    void replacedVersionIsKeptAndRestored_data();
    void replacedVersionIsKeptAndRestored();
    void restoreWhileFetchingIsRefused();
    void restoreShowsNoHalfCopy();
    void pruningKeepsFive();
    void brokenStoreNeverStopsFetch_data();
    void brokenStoreNeverStopsFetch();
    void entrySurvivesKilledProcess();
    void pruningFollowsTheHistoryNotTheClock();
    void upgradeStoresUtcTimes();
    void interruptedFetchIsCompletedAtStartUp_data();
    void interruptedFetchIsCompletedAtStartUp();
    void leftoversMoveAsideWhenNoOtherInstanceRuns();
    void restoreRefusesAlteredVersion_data();
    void restoreRefusesAlteredVersion();
    void versionInPlaceIsKnown_data();
    void versionInPlaceIsKnown();
    void identicalFetchKeepsNoVersion_data();
    void identicalFetchKeepsNoVersion();
    void fetchHoldsItsFilesUntilItsRow();
    void killBetweenSwapAndRowLeavesAStart();
    void newHistoryOpenedByThreadsAtOnce();

private:
    QString url(const QString &path) const { return m_sim.rootUrl() + path; }
    QString path(const QString &relative) const { return m_work->filePath(relative); }
    QString historyFolder() const { return path("history"); }
    QVariantMap request(const QString &kind) const;
    bool fetch(const QString &kind, HttpTransfer &transfer);
    bool fetch(const QString &kind);
    QList<HistoryEntry> entries();
    QList<HistoryFile> filesOf(qint64 id);

    DeviceSimulator m_sim;
    std::unique_ptr<QTemporaryDir> m_work;
};

// Local time is eight hours ahead of UTC here, wherever the tests run.
void tst_FetchHistory::initTestCase()
{
    qputenv("TZ", "CST-8");
#ifdef Q_OS_WIN
    _tzset();
#else
    tzset();
#endif
    QVERIFY(m_sim.start(0));
}

void tst_FetchHistory::init()
{
    m_sim.clearFault();
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
}

QVariantMap tst_FetchHistory::request(const QString &kind) const
{
    const bool pdf = kind == "pdf";
    return { { "remoteFile", url(pdf ? "dl/7.pdf" : "dl/7.zip") },
        { "localFile", path(pdf ? "pdf/7.pdf" : "nc/7.zip") },
        { "localPath", path(pdf ? "pdf/7" : "nc/7") } };
}

bool tst_FetchHistory::fetch(const QString &kind, HttpTransfer &transfer)
{
    transfer.setHistoryFolder(historyFolder());
    transfer.setUserId("1001");
    return transfer.downloadNcFile(request(kind));
}

bool tst_FetchHistory::fetch(const QString &kind)
{
    HttpTransfer transfer;
    return fetch(kind, transfer);
}

QList<HistoryEntry> tst_FetchHistory::entries()
{
    QList<HistoryEntry> found;
    HistoryStore store(historyFolder());
    if (!store.forEach({}, [&](const HistoryEntry &entry) { found << entry; }))
        qWarning() << store.lastError();
    return found;
}

QList<HistoryFile> tst_FetchHistory::filesOf(qint64 id)
{
    QList<HistoryFile> files;
    HistoryConnection connection(historyFolder());
    QSqlQuery query(connection.database());
    query.prepare("SELECT path, size, sha256 FROM fetch_file WHERE fetch_id = ? ORDER BY path");
    query.addBindValue(id);
    query.exec();
    while (query.next())
        files << HistoryFile { query.value(0).toString(), query.value(1).toLongLong(),
            query.value(2).toString() };
    return files;
}

void tst_FetchHistory::fetchAddsEntry_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("unpacked");

    QTest::newRow("label-pdf") << "pdf"
                               << "pdf/7.pdf" << QStringList();
    QTest::newRow("nc-archive") << "nc"
                                << "nc/7" << QStringList { "panel-1.nc", "sub/panel-2.nc" };
}

void tst_FetchHistory::fetchAddsEntry()
{
    QFETCH(QString, kind);
    QFETCH(QString, target);
    QFETCH(QStringList, unpacked);
    const QByteArray pdf = DeviceSimulator::makePdf("任务 7");
    const QByteArray zip
        = DeviceSimulator::makeZip({ { "panel-1.nc", "G0 X0\n" }, { "sub/panel-2.nc", "G1\n" } });
    m_sim.setFile("dl/7.pdf", pdf);
    m_sim.setFile("dl/7.zip", zip);

    HttpTransfer transfer;
    QVERIFY(fetch(kind, transfer));
    QVERIFY(transfer.historyRecorded());

    const QList<HistoryEntry> found = entries();
    QCOMPARE(found.size(), 1);
    const HistoryEntry &entry = found.first();
    QCOMPARE(entry.action, QString("fetch"));
    QCOMPARE(entry.kind, kind);
    QCOMPARE(entry.task, QString("7"));
    QCOMPARE(entry.userId, QString("1001"));
    QCOMPARE(entry.source, request(kind).value("remoteFile").toString());
    QCOMPARE(entry.target, path(target));
    QCOMPARE(entry.sha256, sha256(kind == "pdf" ? pdf : zip));
    QCOMPARE(entry.bytes, qint64(kind == "pdf" ? pdf.size() : zip.size()));
    QVERIFY(entry.ok);
    QCOMPARE(
        entry.outcome, kind == "pdf" ? QString("Fetched / Saved") : QString("Fetched / Saved / Unpacked"));

    const QList<HistoryFile> files = filesOf(entry.id);
    QCOMPARE(files.size(), unpacked.size());
    for (int i = 0; i < files.size(); ++i) {
        const QByteArray content = TestFiles::read(path(target + "/" + unpacked.at(i)));
        QCOMPARE(files.at(i).path, unpacked.at(i));
        QCOMPARE(files.at(i).size, qint64(content.size()));
        QCOMPARE(files.at(i).sha256, sha256(content));
    }
}

void tst_FetchHistory::failedFetchAddsEntry_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("serverError");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("a server error keeps the old label")
        << DeviceSimulator::makePdf("new") << true << "DownloadFailed / HttpError";
    const QByteArray portal = "<!DOCTYPE html><html><body>" + QByteArray(2000, ' ') + "%PDF-</body></html>";
    QTest::newRow("an HTML page sent as the label keeps the old one")
        << portal << false << "DownloadFailed / UnexpectedContent";
}

void tst_FetchHistory::failedFetchAddsEntry()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, serverError);
    QFETCH(QString, outcome);
    QVERIFY(TestFiles::write(path("pdf/7.pdf"), "old"));
    m_sim.setFile("dl/7.pdf", body);
    if (serverError)
        m_sim.setFault(DeviceSimulator::Fault::HttpError, 500, "dl/");
    QVERIFY(!fetch("pdf"));

    const QList<HistoryEntry> found = entries();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().outcome, outcome);
    QVERIFY(FetchHistory(historyFolder()).versions().versions("pdf", "7").isEmpty());
    QVERIFY(!found.first().ok);
    QVERIFY(found.first().sha256.isEmpty());
    QVERIFY(found.first().keptPath.isEmpty());
    QCOMPARE(TestFiles::read(path("pdf/7.pdf")), QByteArray("old"));
}

void tst_FetchHistory::replacedVersionIsKeptAndRestored_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("current"); // what a version is read from

    QTest::newRow("label-pdf") << "pdf"
                               << "pdf/7.pdf";
    QTest::newRow("nc-folder") << "nc"
                               << "nc/7/panel-1.nc";
}

// The second fetch keeps the first version; restoring it keeps the second one first.
void tst_FetchHistory::replacedVersionIsKeptAndRestored()
{
    QFETCH(QString, kind);
    QFETCH(QString, current);
    const QString remote = kind == "pdf" ? "dl/7.pdf" : "dl/7.zip";
    auto serve = [&](const QByteArray &text) {
        m_sim.setFile(remote, kind == "pdf" ? text : DeviceSimulator::makeZip({ { "panel-1.nc", text } }));
    };
    auto kept = [&](const HistoryEntry &entry) {
        const QString base = historyFolder() + "/" + entry.keptPath;
        return TestFiles::read(kind == "pdf" ? base : base + "/panel-1.nc");
    };
    serve("%PDF-first");
    QVERIFY(fetch(kind));
    serve("%PDF-second");
    QVERIFY(fetch(kind));

    QList<HistoryEntry> found = entries();
    QCOMPARE(found.size(), 2);
    QVERIFY(found.first().keptPath.isEmpty());
    QVERIFY(found.last().keptPath.startsWith(kind + "/7/"));
    QCOMPARE(kept(found.last()), QByteArray("%PDF-first"));
    QCOMPARE(TestFiles::read(path(current)), QByteArray("%PDF-second"));

    HttpTransfer transfer;
    transfer.setHistoryFolder(historyFolder());
    QCOMPARE(transfer.restoreVersion(found.last().id), FetchHistory::RestoreResult::Restored);
    QCOMPARE(TestFiles::read(path(current)), QByteArray("%PDF-first"));

    found = entries();
    QCOMPARE(found.size(), 3);
    const HistoryEntry restore = found.last();
    QCOMPARE(restore.action, QString("restore"));
    QVERIFY(restore.ok);
    QCOMPARE(kept(restore), QByteArray("%PDF-second"));
    // Putting the newer one back is a restore like any other.
    QCOMPARE(transfer.restoreVersion(restore.id), FetchHistory::RestoreResult::Restored);
    QCOMPARE(TestFiles::read(path(current)), QByteArray("%PDF-second"));
    // A version stays kept once restored; the first fetch replaced none.
    QCOMPARE(transfer.restoreVersion(found.at(1).id), FetchHistory::RestoreResult::Restored);
    QCOMPARE(TestFiles::read(path(current)), QByteArray("%PDF-first"));
    QCOMPARE(transfer.restoreVersion(found.first().id), FetchHistory::RestoreResult::NotKept);
}

// A restore must not write the file a fetch is writing; it is refused and recorded.
void tst_FetchHistory::restoreWhileFetchingIsRefused()
{
    m_sim.setFile("dl/7.pdf", "%PDF-first");
    QVERIFY(fetch("pdf"));
    m_sim.setFile("dl/7.pdf", "%PDF-second");
    QVERIFY(fetch("pdf"));
    const qint64 replacing = entries().last().id;
    m_sim.setFile("dl/7.pdf", "%PDF-third");
    m_sim.setFault(DeviceSimulator::Fault::Delay, 600, "dl/");

    FetchHistory::RestoreResult during = FetchHistory::RestoreResult::Restored;
    QTimer::singleShot(100, this, [&] {
        HttpTransfer transfer;
        transfer.setHistoryFolder(historyFolder());
        during = transfer.restoreVersion(replacing);
    });
    QVERIFY(fetch("pdf"));
    QCOMPARE(during, FetchHistory::RestoreResult::InUse);
    QCOMPARE(TestFiles::read(path("pdf/7.pdf")), QByteArray("%PDF-third"));
    const QList<HistoryEntry> found = entries();
    QCOMPARE(found.size(), 4);
    QCOMPARE(found.at(2).action + " " + found.at(2).outcome, QString("restore InUse"));
}

// While a restore copies the kept version, nc/ shows the task's folder and archive only.
void tst_FetchHistory::restoreShowsNoHalfCopy()
{
    QList<QPair<QString, QByteArray>> programs;
    for (int n = 0; n < 300; ++n)
        programs.append({ QString("panel-%1.nc").arg(n), "G0 X0 Y0\nM30\n" });
    m_sim.setFile("dl/7.zip", DeviceSimulator::makeZip(programs));
    QVERIFY(fetch("nc"));
    m_sim.setFile("dl/7.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "%PDF-second" } }));
    QVERIFY(fetch("nc"));

    QSet<QString> seen;
    QTimer look;
    connect(&look, &QTimer::timeout, [&] {
        for (const QString &name : QDir(path("nc")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
            seen << name;
    });
    look.start(0);
    HttpTransfer transfer;
    transfer.setHistoryFolder(historyFolder());
    QCOMPARE(transfer.restoreVersion(entries().last().id), FetchHistory::RestoreResult::Restored);
    look.stop();
    QCOMPARE(seen, QSet<QString>({ "7", "7.zip" }));
    QCOMPARE(QDir(path("nc/7")).count(), 302u);
}

void tst_FetchHistory::pruningKeepsFive()
{
    for (int i = 0; i < 8; ++i) {
        m_sim.setFile("dl/7.pdf", "%PDF-version " + QByteArray::number(i));
        QVERIFY(fetch("pdf"));
    }
    const QStringList kept = FetchHistory(historyFolder()).versions().versions("pdf", "7");
    QCOMPARE(kept.size(), 5);
    // The oldest went first: versions 2 to 6 remain, 7 is in place.
    QCOMPARE(TestFiles::read(historyFolder() + "/" + kept.first()), QByteArray("%PDF-version 2"));
    QCOMPARE(TestFiles::read(historyFolder() + "/" + kept.last()), QByteArray("%PDF-version 6"));

    QStringList pruned;
    for (const HistoryEntry &entry : entries()) {
        if (entry.action == "prune")
            pruned << entry.keptPath;
    }
    QCOMPARE(pruned.size(), 2);
    for (const QString &gone : pruned)
        QVERIFY(!QFileInfo::exists(historyFolder() + "/" + gone));
}

void tst_FetchHistory::brokenStoreNeverStopsFetch_data()
{
    QTest::addColumn<bool>("damaged");

    QTest::newRow("not-a-database") << true;
    QTest::newRow("cannot-be-opened") << false;
}

// A damaged file is set aside and a new one started; one that cannot be opened at all (a
// folder in its place, which even an administrator cannot open as a file) is reported.
void tst_FetchHistory::brokenStoreNeverStopsFetch()
{
    QFETCH(bool, damaged);
    const QString file = HistoryConnection::fileName(historyFolder());
    if (damaged)
        QVERIFY(TestFiles::write(file, QByteArray(8192, 'x')));
    else
        QVERIFY(QDir().mkpath(file));
    m_sim.setFile("dl/7.pdf", "%PDF-new");

    HttpTransfer transfer;
    QVERIFY(fetch("pdf", transfer));
    QCOMPARE(TestFiles::read(path("pdf/7.pdf")), QByteArray("%PDF-new"));
    QCOMPARE(transfer.historyRecorded(), damaged);
    QCOMPARE(transfer.historyProblem().isEmpty(), damaged);
    const QStringList aside = QDir(historyFolder()).entryList({ "history.sqlite.damaged-*" });
    QCOMPARE(aside.size(), damaged ? 1 : 0);
    if (damaged) {
        QCOMPARE(TestFiles::read(historyFolder() + "/" + aside.first()), QByteArray(8192, 'x'));
        QCOMPARE(entries().size(), 1);
    }
    // The next fetch tries again.
    if (!damaged)
        QVERIFY(QDir(file).removeRecursively());
    QVERIFY(fetch("pdf", transfer));
    QVERIFY(transfer.historyRecorded());
}

// The entry is committed before the fetch returns, so a process killed right then
// (SIGKILL; TerminateProcess on Windows) leaves it behind.
void tst_FetchHistory::entrySurvivesKilledProcess()
{
    m_sim.setFile("dl/7.pdf", "%PDF-killed");
    QProcess child;
    child.setProgram(QCoreApplication::applicationDirPath() + "/quillet_fetchchild");
    child.setArguments({ url("dl/7.pdf"), path("pdf/7.pdf"), historyFolder() });
    child.start();
    QVERIFY(child.waitForStarted());
    QVERIFY(child.waitForReadyRead(60000));
    QCOMPARE(child.readLine().trimmed(), QByteArray("fetched"));
    child.kill();
    QVERIFY(child.waitForFinished());

    const QList<HistoryEntry> found = entries();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().sha256, sha256("%PDF-killed"));
}

// A clock set back two years names the version a fetch sets aside as the oldest; the
// history's own order keeps it.
void tst_FetchHistory::pruningFollowsTheHistoryNotTheClock()
{
    FetchHistory history(historyFolder());
    QStringList kept;
    for (int i = 0; i < 6; ++i) {
        HistoryEntry entry;
        entry.time
            = i < 5 ? QDateTime::currentDateTime().addSecs(i) : QDateTime::currentDateTime().addYears(-2);
        entry.action = "fetch";
        entry.kind = "pdf";
        entry.task = "7";
        entry.keptPath = history.versions().newVersionPath("pdf", "7", entry.time);
        QVERIFY(TestFiles::write(historyFolder() + "/" + entry.keptPath, QByteArray::number(i)));
        QVERIFY(history.record(entry, QString(), QString()));
        kept << entry.keptPath;
    }
    QCOMPARE(history.versions().versions("pdf", "7").size(), 5);
    QVERIFY(!QFileInfo::exists(historyFolder() + "/" + kept.first()));
    QVERIFY(QFileInfo::exists(historyFolder() + "/" + kept.last()));
}

void tst_FetchHistory::upgradeStoresUtcTimes()
{
    QVERIFY(QDir().mkpath(historyFolder()));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "v1");
        db.setDatabaseName(HistoryConnection::fileName(historyFolder()));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(
            "CREATE TABLE fetch (id INTEGER PRIMARY KEY, time TEXT NOT NULL, action TEXT NOT NULL, "
            "user_id TEXT, device TEXT, task TEXT, kind TEXT, source TEXT, target TEXT, bytes "
            "INTEGER, sha256 TEXT, outcome TEXT, ok INTEGER, duration_ms INTEGER, kept_path TEXT)"));
        QVERIFY(
            query.exec("CREATE TABLE fetch_file (fetch_id INTEGER, path TEXT, size INTEGER, sha256 TEXT)"));
        QVERIFY(query.exec("INSERT INTO fetch (time, action) VALUES ('2026-03-02 07:00:00.000', 'fetch')"));
        QVERIFY(query.exec("PRAGMA user_version = 1"));
    }
    QSqlDatabase::removeDatabase("v1");

    HistoryStore store(historyFolder());
    QList<HistoryEntry> found;
    // The upgrade that brings in the chain adds a row of its own.
    QVERIFY(store.forEach({ QDate(2026, 3, 2), {}, {} }, [&](const HistoryEntry &entry) {
        if (entry.action != HistoryEntry::chainAction)
            found << entry;
    }));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().timeText, QString("2026-03-01T23:00:00.000Z"));
    QCOMPARE(HistoryStore::localTimeText(found.first()), QString("2026-03-02 07:00:00.000"));
    HistoryConnection connection(historyFolder());
    QSqlQuery query("SELECT original_time FROM fetch", connection.database());
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QString("2026-03-02 07:00:00.000"));
    QVERIFY(QFileInfo::exists(HistoryConnection::copyBeforeUpgradeName(historyFolder(), 2)));
}

void tst_FetchHistory::interruptedFetchIsCompletedAtStartUp_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("aside"); // where the old version was when the process died
    QTest::addColumn<QByteArray>("inPlace"); // what the task's file holds after recovery
    QTest::addColumn<bool>("recorded"); // the old version has a row of its own
    QTest::addColumn<bool>("version"); // the completion is the version in place

    QTest::newRow("pdf-replaced-before-its-row") << "pdf"
                                                 << "kept" << QByteArray("new") << false << false;
    QTest::newRow("pdf-set-aside-not-replaced") << "pdf"
                                                << "kept-only" << QByteArray("old") << false << false;
    QTest::newRow("nc-moved-aside-by-unpacking")
        << "nc"
        << "nc/.7.unpack-ab12.old" << QByteArray("old") << false << false;
    QTest::newRow("the recorded files put back are the version in place again")
        << "nc"
        << "nc/.7.unpack-ab12.old" << QByteArray("old") << true << true;
    QTest::newRow("a new file no row vouches for is no version in place")
        << "pdf"
        << "kept" << QByteArray("new") << true << false;
    QTest::newRow("a restore cut between its renames gets the folder back despite its staging copy")
        << "nc"
        << "restoring" << QByteArray("old") << true << true;
}

void tst_FetchHistory::interruptedFetchIsCompletedAtStartUp()
{
    QFETCH(QString, kind);
    QFETCH(QString, aside);
    QFETCH(QByteArray, inPlace);
    QFETCH(bool, recorded);
    QFETCH(bool, version);
    const QString target = path(kind == "pdf" ? "pdf/7.pdf" : "nc/7");
    const QString file = kind == "pdf" ? target : target + "/panel-1.nc";
    QVERIFY(TestFiles::write(file, "old"));
    FetchHistory history(historyFolder());
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = aside == "restoring" ? "restore" : "fetch";
    entry.task = "7";
    entry.kind = kind;
    entry.target = target;
    if (recorded) {
        HistoryEntry old = entry;
        old.action = "fetch";
        old.ok = true;
        old.sha256 = sha256("old archive");
        QVERIFY(history.record(old, kind == "pdf" ? target : QString(), kind == "pdf" ? QString() : target));
    }
    const qint64 startId = history.beginFetch(entry);
    QVERIFY(startId > 0);
    const QString kept = history.versions().absolutePath(entry.keptPath);
    QVERIFY(QDir().mkpath(QFileInfo(kept).absolutePath()));
    QVERIFY(QDir().rename(target, aside.startsWith("kept") || aside == "restoring" ? kept : path(aside)));
    if (aside == "kept")
        QVERIFY(TestFiles::write(target, "new"));
    if (aside == "restoring")
        QVERIFY(TestFiles::write(path("nc/.7.restoring/panel-1.nc"), "restoring"));

    QCOMPARE(StartupRecovery(historyFolder()).run(), StartupRecovery::Result::Recovered);
    QCOMPARE(TestFiles::read(file), inPlace);
    QCOMPARE(StartupRecovery::leftovers(path("nc")), QStringList());
    const QList<HistoryEntry> found = entries();
    const HistoryEntry done = found.at(recorded ? 1 : 0);
    QCOMPARE(done.outcome + " " + QString::number(done.startId), "Interrupted " + QString::number(startId));
    QCOMPARE(done.keptPath.isEmpty(), !aside.startsWith("kept") && aside != "restoring");
    HistoryEntry inPlaceRow;
    QCOMPARE(
        history.store().lastInstalled(kind, "7", std::numeric_limits<qint64>::max(), inPlaceRow), recorded);
    QCOMPARE(inPlaceRow.id == done.id, version);
    if (aside == "kept") {
        QCOMPARE(history.restore(done.id, "1001", QString()), FetchHistory::RestoreResult::Restored);
        QCOMPARE(TestFiles::read(file), QByteArray("old"));
    }
}

void tst_FetchHistory::leftoversMoveAsideWhenNoOtherInstanceRuns()
{
    const QStringList leftovers { "nc/.7.restoring/panel-1.nc", "nc/.8.unpack-x1y2/a.nc",
        "pdf/9.pdf.Ab12Cd" };
    std::unique_ptr<StartupRecovery> running(new StartupRecovery(historyFolder()));
    QCOMPARE(running->run(), StartupRecovery::Result::Recovered);
    for (const QString &leftover : leftovers)
        QVERIFY(TestFiles::write(path(leftover), leftover.toUtf8()));
    QCOMPARE(StartupRecovery(historyFolder()).run(), StartupRecovery::Result::OtherInstance);
    QVERIFY(QFileInfo::exists(path(leftovers.first())));
    running.reset();

    QCOMPARE(StartupRecovery(historyFolder()).run(), StartupRecovery::Result::Recovered);
    const QList<HistoryEntry> found = entries();
    QCOMPARE(found.size(), leftovers.size());
    for (int i = 0; i < found.size(); ++i) {
        QCOMPARE(found.at(i).action + " " + found.at(i).source,
            "recover " + path(leftovers.at(i).section('/', 0, 1)));
        const QString moved
            = historyFolder() + "/" + found.at(i).keptPath + "/" + leftovers.at(i).section('/', 1);
        QCOMPARE(TestFiles::read(moved), leftovers.at(i).toUtf8());
    }
}

void tst_FetchHistory::restoreRefusesAlteredVersion_data()
{
    replacedVersionIsKeptAndRestored_data();
}

void tst_FetchHistory::restoreRefusesAlteredVersion()
{
    QFETCH(QString, kind);
    QFETCH(QString, current);
    const QString remote = kind == "pdf" ? "dl/7.pdf" : "dl/7.zip";
    for (const QByteArray &text : { QByteArray("%PDF-first"), QByteArray("%PDF-second") }) {
        m_sim.setFile(remote, kind == "pdf" ? text : DeviceSimulator::makeZip({ { "panel-1.nc", text } }));
        QVERIFY(fetch(kind));
    }
    const HistoryEntry second = entries().last();
    const QString kept = historyFolder() + "/" + second.keptPath;
    QVERIFY(TestFiles::write(kind == "pdf" ? kept : kept + "/panel-1.nc", "altered"));

    FetchHistory history(historyFolder());
    QCOMPARE(history.restore(second.id, "1001", QString()), FetchHistory::RestoreResult::Altered);
    QCOMPARE(TestFiles::read(path(current)), QByteArray("%PDF-second"));
    QCOMPARE(entries().last().outcome, QString("Altered"));
}

void tst_FetchHistory::versionInPlaceIsKnown_data()
{
    replacedVersionIsKeptAndRestored_data();
}

// A fetch compares its download with this to keep no copy of the same version.
void tst_FetchHistory::versionInPlaceIsKnown()
{
    QFETCH(QString, kind);
    QFETCH(QString, current);
    m_sim.setFile("dl/7.pdf", "%PDF-first");
    m_sim.setFile("dl/7.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "%PDF-first" } }));
    QVERIFY(fetch(kind));
    FetchHistory history(historyFolder());
    const QString target = entries().last().target;
    QCOMPARE(history.sha256InPlace(kind, "7", target), entries().last().sha256);
    QVERIFY(TestFiles::write(path(current), "changed by hand"));
    QVERIFY(history.sha256InPlace(kind, "7", target) != entries().last().sha256);
}

void tst_FetchHistory::identicalFetchKeepsNoVersion_data()
{
    replacedVersionIsKeptAndRestored_data();
}

void tst_FetchHistory::identicalFetchKeepsNoVersion()
{
    QFETCH(QString, kind);
    QFETCH(QString, current);
    m_sim.setFile("dl/7.pdf", "%PDF-same");
    m_sim.setFile("dl/7.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "%PDF-same" } }));
    QVERIFY(fetch(kind));
    HttpTransfer transfer;
    QVERIFY(fetch(kind, transfer) && transfer.lastFetch().identical);
    const HistoryEntry first = entries().first();
    QCOMPARE(entries().last().outcome + " " + entries().last().keptPath, QString("Identical "));
    QVERIFY(entries().last().ok);
    FetchHistory history(historyFolder());
    QVERIFY(history.versions().versions(kind, "7").isEmpty());
    QCOMPARE(history.versionPath(first), first.target);
    QCOMPARE(TestFiles::read(path(current)), QByteArray("%PDF-same"));
}

// The history is held for writing from the download on, so the fetch waits between its
// swap and its row for as long as the test likes; the task's files stay claimed all that
// time, and the file changed there on disk does not change the row's SHA-256.
void tst_FetchHistory::fetchHoldsItsFilesUntilItsRow()
{
    m_sim.setFile("dl/7.pdf", "%PDF-second");
    HttpTransfer transfer;
    HistoryConnection blocker(historyFolder(), "lock");
    QSqlQuery lock(blocker.database());
    connect(&transfer, &HttpTransfer::fetchProgress, this, [&] { lock.exec("BEGIN IMMEDIATE"); });
    QTimer poll;
    QElapsedTimer sinceSwap;
    bool held = true;
    FetchReport::Fetch refused = FetchReport::Fetch::Fetched;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!sinceSwap.isValid() && TestFiles::read(path("pdf/7.pdf")) != "%PDF-second")
            return;
        if (!sinceSwap.isValid() && TestFiles::write(path("pdf/7.pdf"), "changed on disk"))
            sinceSwap.start();
        held = held && !FileClaim({ path("pdf/7.pdf") }).claimed();
        if (sinceSwap.elapsed() < 300)
            return;
        poll.stop();
        lock.exec("ROLLBACK");
        HttpTransfer other;
        fetch("pdf", other);
        refused = other.lastFetch().fetch;
    });
    poll.start(1);
    QVERIFY(fetch("pdf", transfer));
    QVERIFY(held);
    QCOMPARE(refused, FetchReport::Fetch::InUse);
    const QList<HistoryEntry> found = entries();
    const HistoryEntry row = found.first().ok ? found.first() : found.last();
    QCOMPARE(row.sha256, QString::fromLatin1(transfer.lastFetch().sha256.toHex()));
    QCOMPARE(row.sha256, sha256("%PDF-second"));
}

// The child holds the history for writing from its download on and says when its fetch
// has swapped the file in: the start row is all there is of the fetch then.
void tst_FetchHistory::killBetweenSwapAndRowLeavesAStart()
{
    QVERIFY(TestFiles::write(path("pdf/7.pdf"), "old"));
    m_sim.setFile("dl/7.pdf", "%PDF-newer");
    QProcess child;
    child.start(QCoreApplication::applicationDirPath() + "/quillet_fetchchild",
        { url("dl/7.pdf"), path("pdf/7.pdf"), historyFolder(), "stall" });
    QVERIFY(child.waitForReadyRead(60000));
    QCOMPARE(child.readLine().trimmed(), QByteArray("swapped"));
    child.kill();
    QVERIFY(child.waitForFinished());

    QCOMPARE(StartupRecovery(historyFolder()).run(), StartupRecovery::Result::Recovered);
    QCOMPARE(entries().last().outcome, QString("Interrupted"));
    FetchHistory history(historyFolder());
    QCOMPARE(history.restore(entries().last().id, "1001", QString()), FetchHistory::RestoreResult::Restored);
    QCOMPARE(TestFiles::read(path("pdf/7.pdf")), QByteArray("old"));
}

// The first start: a fetch's thread and the window may open the new file at once. Each
// finds the schema made, whichever made it.
void tst_FetchHistory::newHistoryOpenedByThreadsAtOnce()
{
    constexpr int threads = 3;
    for (int round = 0; round < 20; ++round) {
        const QString folder = path(QStringLiteral("race%1").arg(round));
        std::atomic<int> waiting { threads };
        std::atomic<int> added { 0 };
        std::vector<std::thread> openers;
        for (int i = 0; i < threads; ++i) {
            openers.emplace_back([&, i] {
                HistoryEntry entry;
                entry.time = QDateTime::currentDateTime();
                entry.action = HistoryEntry::fetchAction;
                entry.task = QString::number(i);
                --waiting;
                while (waiting > 0)
                    std::this_thread::yield();
                added += HistoryStore(folder).add(entry) ? 1 : 0;
            });
        }
        for (std::thread &opener : openers)
            opener.join();
        QVERIFY2(added == threads, qPrintable(QStringLiteral("round %1: %2 added").arg(round).arg(added)));
    }
}

QTEST_GUILESS_MAIN(tst_FetchHistory)
#include "tst_fetchhistory.moc"
