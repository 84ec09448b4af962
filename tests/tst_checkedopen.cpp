#include "tasks/checkedopen.h"

#include "history/filedigest.h"
#include "history/historystore.h"
#include "tests/support/messageboxcloser.h"
#include "tests/support/testfiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class tst_CheckedOpen : public QObject
{
    Q_OBJECT

private slots:
    void enterOnTheWarningCancels();
};

// A scanner ends each code with Enter: on the warning it must keep the changed files shut.
void tst_CheckedOpen::enterOnTheWarningCancels()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("nc/T1");
    QVERIFY(TestFiles::write(folder + "/a.nc", "G0 X1\n"));
    QVERIFY(TestFiles::installRecordingOpener(dir.path()));
    HistoryEntry fetch;
    fetch.time = QDateTime::currentDateTime();
    fetch.action = HistoryEntry::fetchAction;
    fetch.task = "T1";
    fetch.kind = "nc";
    fetch.target = folder;
    fetch.ok = true;
    fetch.files = FileDigest::folderFiles(folder);
    HistoryStore store(dir.filePath("history"));
    QVERIFY(store.add(fetch));
    QVERIFY(TestFiles::write(folder + "/a.nc", "G0 X9\n"));

    MessageBoxCloser closer;
    closer.pressEnter = true;
    CheckedOpen open(store.folder(), "7");
    QSignalSpy finished(&open, &CheckedOpen::finished);
    open.open("nc", "T1", folder);
    QVERIFY(finished.wait());
    QCOMPARE(finished.first().first().value<CheckedOpen::Choice>(), CheckedOpen::Choice::Cancelled);
    QCOMPARE(closer.seen, QStringList { "warning|以下文件在下载后被改动：\na.nc（已改动）" });
    QVERIFY(TestFiles::openedFolders(dir.path()).isEmpty());
    HistoryEntry check;
    QVERIFY(store.find(fetch.id + 1, check));
    QCOMPARE(check.outcome, QString("Changed / Cancelled"));
}

QTEST_MAIN(tst_CheckedOpen)
#include "tst_checkedopen.moc"
