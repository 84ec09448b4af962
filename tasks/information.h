#ifndef INFORMATION_H
#define INFORMATION_H

#include "service/scancode.h"

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

#include <functional>
#include <memory>

class DeviceCall;
class ErrorInfo;
class FetchReport;
class FileChooser;
class HistoryWindow;
class QTimer;
class ScanRouter;
class TaskSession;

namespace Ui {
class Information;
}

// The task window: the signed-in user's tasks of one day, reloaded every five seconds (less
// often while the service fails, see RefreshSchedule), with buttons to move between days and
// a status line that says what the table shows.
//
// Nothing here waits. Each action starts a flow (a load, a fetch, a check, a scan's look-up)
// that reports once through a signal, and the window shows the outcome in a slot; boxes do
// not wait either. So a reload goes on and ends while a fetch runs or a box is up, and a
// later flow never holds an earlier one. A load started while another waits (another day
// picked) abandons the waiting one.
//
// The session with the service (signed in or offline, the kept lists, the retry schedule,
// the reason shown) is a TaskSession. Offline, the window shows the kept lists with the rows
// drawn grey, opens only files fetched before, and the session signs in again on the
// schedule until the service answers. The field beside the buttons takes scanned or typed
// codes: a task number or an NC program's file name; a scanner's keys reach it whatever the
// operator clicked (ScanRouter).
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
    // Starts loading the tasks of date ("yyyy-MM-dd") and returns; the rows follow when the
    // service answers.
    void loadTaskList(QString date);

    // When the list an offline window would open on was loaded: today's kept list, else the
    // newest kept day's; invalid when uid has none.
    static QDateTime keptListTime(const QString &uid);

signals:
    // The sign-in retried while offline was accepted (the user id the service returned), or
    // refused: the password was changed on the service.
    void signInAccepted(QString uid);
    void signInRefused();
    // A load ended and the table and status line show its outcome; a fetch ended, or a copy
    // fetched before was checked (for tests and the shift).
    void loadEnded();
    void fileActionEnded();

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
    void loadAnswered(const QString &date, const QVariantMap &reply, const ErrorInfo &error);
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
    void fetch(const QVariantMap &task, bool pdf);
    void fetchEnded(
        const QString &fileName, const QString &placedIn, const FetchReport &report, bool historyRecorded);
    void openFolder(const QString &folder);
    void setTableStatus(const QString &text);
    void setFileStatus(const QString &text);
    void setRowsStale(bool stale);
    void showKeptDay(const QDate &day);
    void showOfflineStatus();
    void goOnline(const QString &newUid);
    void openFetchedCopy(
        const QString &kind, const QString &taskNumber, const QString &copy, const QString &selected);
    void scanEntered(const QString &code);
    void scanNext();
    void scanDecided(const QString &code, const ScanCode::Match &match);
    void openScannedTask(const QDate &day, const QString &taskNumber);
    void openScannedFile(const QString &task, const QString &folder, const QString &path);
    void offerFetchOf(const QString &task);
    void choose(const QString &question, const QStringList &choices, const std::function<void(int)> &chosen);
    void askProxySignIn(const std::function<void()> &retry);
    void closeChooser();
    void setScanFailed(bool failed);

    std::unique_ptr<Ui::Information> ui;
    QVariantList taskList;
    QString uid;
    QString currentDate;
    int dayOffset;
    // Set by start(); until then the date edit loads nothing.
    bool started = false;
    TaskSession *session;
    // The load waiting for its reply; a newer load abandons it.
    QPointer<DeviceCall> pendingLoad;
    // The day whose tasks the rows are and when their reply came (invalid for kept rows).
    QString shownDate;
    QTime loadedAt;
    // The rows are a kept list, received then; they stay, grey, until a reload confirms them.
    QDateTime keptAt;
    QString tableStatus;
    QString fileStatus;
    // Counts the file actions started; only the newest one shows its progress.
    int fileActions = 0;
    // Collects the steps of a wheel or the arrow keys in the date edit into one load.
    QTimer *datePick;
    // The history window, while one is open.
    QPointer<HistoryWindow> historyWindow;
    // The rows are drawn grey: kept ones shown offline, or ones a reload failed to confirm.
    bool rowsStale = false;
    bool proxySignInAsked = false;
    // The click that ends a double click fetches nothing more.
    bool doubleClicked = false;
    // Codes that ended while an earlier one was still being looked up.
    QStringList pendingScans;
    bool scanning = false;
    // A task number scanned on another day: its NC cell acts once that day has loaded.
    QString scanAfterLoad;
    ScanRouter *scanRouter;
    QPointer<FileChooser> chooser;
};

#endif // INFORMATION_H
