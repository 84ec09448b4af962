#ifndef HISTORYWINDOW_H
#define HISTORYWINDOW_H

#include "history/historystore.h"
#include "history/installedcheck.h"
#include "history/nccompare.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <QWidget>

#include <memory>

class HistoryConnection;
class HistoryModel;

namespace Ui {
class HistoryWindow;
}

// The history of fetches, restores and opened folders, newest first, filtered by day and
// by task. An entry whose fetch replaced a version that is still kept can put that version
// back ("恢复此版本"); an NC entry's version can be compared with the one in place, or two
// entries' versions of the same task with each other ("比较"); the task's current NC folder or
// PDF can be opened once checked against the history ("打开", CheckedOpen), and every task's
// checked at once ("校验"); the filtered entries can be exported to a CSV file ("导出"), and a
// support bundle written for a technician ("诊断包"). Entries made while the window is open
// show within a second, the selection and the scroll position kept. The
// window deletes itself when closed.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryWindow(const QString &historyFolder, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    void setUserId(const QString &uid);
    // An empty task shows every task; a null day every day.
    void setTaskFilter(const QString &task);
    void setDayFilter(const QDate &day);
    HistoryStore::Filter filter() const;
    HistoryModel *model() const;

    // Each action below is a flow: it returns at once, runs its work off the GUI thread,
    // shows its outcome (the status line, a box that does not wait) and emits actionEnded().
    // Its button stays disabled meanwhile, and a second start is ignored.

    // Writes the filtered entries to fileName; a box says when it cannot.
    void exportTo(const QString &fileName);
    // Writes the support bundle of the program's folder and this window's history to fileName.
    void writeSupportBundle(const QString &fileName);
    // Puts back the version replaced by the entry in row, after the operator confirms.
    void restoreRow(int row);
    // Shows how the version the entry in one row put in place differs from the one in place,
    // or how the versions of two rows of the same task differ.
    void compareRows(const QList<int> &rows);
    // Opens the current version of the task of the entry in row once it is checked.
    void openRow(int row);
    // Checks every task's NC folder and PDF against the history and lists what differs.
    void checkEveryTask();
    // Whether the NC compare reads a number without a decimal point in millimetres.
    static void setNcIntegerIsUnit(bool millimetres);

public slots:
    void reload();

signals:
    void actionEnded();

private slots:
    void on_restoreBtn_clicked();
    void on_exportBtn_clicked();
    void on_bundleBtn_clicked();
    void on_compareBtn_clicked();
    void on_openBtn_clicked();
    void on_checkBtn_clicked();
    void on_dayCheck_toggled(bool checked);
    void copySha256();
    void updateButtons();
    void followHistory();
    void showPlantNote();

private:
    struct Written
    {
        bool done = false;
        QString error;
        int count = 0;
    };
    struct Swept
    {
        bool readable = false;
        QList<InstalledCheck::TaskCheck> checks;
        QString error;
    };

    void endAction(bool &running);
    void restoreEntry(const HistoryEntry &entry);
    qint64 newestId() const;
    QSet<qint64> selectedIds() const;
    void reselect(const QSet<qint64> &ids);
    int selectedRow() const;
    bool ensureConnection();
    QString versionText(const QString &kind, const QString &task, qint64 beforeId);
    bool findEntries(const QList<int> &rows, QList<HistoryEntry> &entries);
    static QString whyNotComparable(const QList<HistoryEntry> &entries);
    bool findSides(const QList<HistoryEntry> &entries, NcCompare::Side &older, NcCompare::Side &newer);
    bool versionSide(const HistoryEntry &entry, NcCompare::Side &side);
    void showStatus(const QString &text);
    // Static: the window may be gone once the check is done.
    static void showDifferences(const QList<InstalledCheck::TaskCheck> &checks);
    static void recordSweep(const QString &folder, const QString &uid,
        const QList<InstalledCheck::TaskCheck> &checks, bool readable);

    std::unique_ptr<Ui::HistoryWindow> ui;
    QString m_folder;
    QString m_uid;
    std::unique_ptr<HistoryConnection> m_connection;
    HistoryModel *m_model;
    qint64 m_newestId = -1;
    bool m_restoring = false;
    bool m_exporting = false;
    bool m_bundling = false;
    bool m_comparing = false;
    bool m_opening = false;
    bool m_checking = false;
};

#endif // HISTORYWINDOW_H
