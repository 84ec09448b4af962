#ifndef INFORMATION_H
#define INFORMATION_H

#include <QDate>
#include <QDateTime>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariantList>
#include <QVariantMap>
#include <QWidget>

#include <memory>

class ErrorInfo;
class FetchReport;
class HistoryWindow;
class HttpTransfer;
class QTimer;
class RefreshSchedule;
class TaskListStore;

namespace Ui {
class Information;
}

// The task window: the signed-in user's tasks of one day, reloaded every five seconds (less
// often while the service fails, see RefreshSchedule), with buttons to move between days and a status line
// that says what the table shows.
//
// Requests to the device service wait in local event loops that handle every event, so
// the operator's clicks are handled at once, on the rows as shown, while a load waits.
// A load started meanwhile (another day picked) supersedes the waiting one, whose late
// reply is dropped.
//
// Each list the service sends is kept on this PC (TaskListStore). Offline, the window shows
// the kept lists with the rows drawn grey, opens only files fetched before, and signs in
// again on the refresh schedule until the service answers. The field beside the buttons
// takes scanned or typed codes: a task number or an NC program's file name.
class Information : public QWidget
{
    Q_OBJECT

public:
    explicit Information(QWidget *parent = nullptr);
    ~Information() override;

    // Starts the periodic refresh for the user and loads today's tasks.
    void start(QString uid);
    // Shows the lists kept for uid while the service cannot be reached (why, in words), and
    // sends signIn, the sign-in window's request, again on the refresh schedule until the
    // service answers: then the window goes live, or emits signInRefused() and closes.
    void startOffline(QString uid, const QVariantMap &signIn, const QString &why);
    bool isOffline() const;
    // Asks the device service for the tasks of date ("yyyy-MM-dd") and shows them.
    void loadTaskList(QString date);

    // When the list an offline window would open on was loaded: today's kept list, else the
    // newest kept day's; invalid when uid has none.
    static QDateTime keptListTime(const QString &uid);

signals:
    // The sign-in retried while offline was accepted (the user id the service returned), or
    // refused: the password was changed on the service.
    void signInAccepted(QString uid);
    void signInRefused();

private slots:
    void cellClick(int row, int col);
    void on_lastdayBtn_clicked();
    void on_nextdayBtn_clicked();
    void on_todayBtn_clicked();
    void on_out_clicked();
    void on_dateEdit_dateChanged(QDate date);
    void on_update_clicked();
    void on_historyBtn_clicked();
    void refresh();
    void loadPickedDate();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showTasks(const QString &date, const QVariantList &tasks);
    void showFailure(const QString &date, const ErrorInfo &failure);
    void logTaskList(const QString &date, const QVariantList &tasks, bool sameDay) const;
    static void logFetch(
        const QString &taskNumber, bool pdf, const QString &address, const FetchReport &report);
    void rebuildTable();
    void fitColumns();
    void showDay(const QString &date);
    void setShownDate(const QDate &date);
    QIcon modelIcon() const;
    void fillRow(int row, const QVariantMap &task, const QIcon &icon);
    void finishFileAction(HttpTransfer &transfer, const QString &fileName, const QString &placedIn);
    void setTableStatus(const QString &text);
    void setFileStatus(const QString &text);
    void setRowsStale(bool stale);
    void keepTaskList(const QString &date, const QVariantList &tasks);
    static QDate offlineDay(TaskListStore &lists, const QString &uid);
    void showKeptDay(const QDate &day);
    void showOfflineStatus();
    int keptDayOffset(int direction);
    void retrySignIn();
    void goOnline(const QString &newUid);
    void openFetchedCopy(
        const QString &kind, const QString &taskNumber, const QString &copy, const QString &selected);
    void scanEntered();
    void scan(const QString &code);
    void openScannedTask(const QDate &day, const QString &taskNumber);
    void openScannedFile(const QString &task, const QString &folder, const QString &path);
    int chooseFile(const QString &code, const QStringList &choices);
    void setScanFailed(bool failed);

    std::unique_ptr<Ui::Information> ui;
    QVariantList taskList;
    QString uid;
    QString currentDate;
    int dayOffset;
    // Set by start(); until then the date edit loads nothing.
    bool started = false;
    // Loads waiting for their reply; refresh ticks arriving meanwhile are skipped.
    int pendingLoads = 0;
    // Counts the loads started; a reply whose load is no longer the newest is dropped.
    int loadGeneration = 0;
    // The day whose tasks the rows are, when they were loaded, and since when the
    // service has been failing (null while it answers).
    QString shownDate;
    QTime loadedAt;
    QTime failingSince;
    QString tableStatus;
    QString fileStatus;
    // Counts the file actions started; only the newest one shows its progress.
    int fileActions = 0;
    // When the next reload comes; a child found by its type when time must run faster.
    RefreshSchedule *schedule;
    // Collects the steps of a wheel or the arrow keys in the date edit into one load.
    QTimer *datePick;
    // The history window, while one is open.
    QPointer<HistoryWindow> historyWindow;
    // The rows are drawn grey: kept ones shown offline, or ones a reload failed to confirm.
    bool rowsStale = false;
    // Offline: the sign-in request sent again (it holds the password's digest, in memory
    // only), why the service could not be reached, and when the kept rows were loaded.
    bool offline = false;
    QVariantMap signInRequest;
    QString offlineReason;
    QDateTime keptAt;
    // Codes that ended while an earlier one was still being looked up or opened.
    QStringList pendingScans;
    bool scanning = false;
};

#endif // INFORMATION_H
