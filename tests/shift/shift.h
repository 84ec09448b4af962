#ifndef SHIFT_H
#define SHIFT_H

#include "tests/shift/shiftinvariants.h"
#include "tests/support/messageboxcloser.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class DeviceSimulator;
class FileSizeLimit;
class HistoryWindow;
class QFile;
class QTableWidget;
class QWidget;

// An operator's shift, compressed: random actions on the real windows and random faults of
// the simulated service, both drawn from one seed, with the client's promises checked after
// every step. Steps come from a timer. The windows never wait: a click starts a flow and
// returns, and the step after it comes while the flow (a fetch, a load, a check) runs on.
// Only the shift's own waits (waitAWhile) take steps inside them.
//
// The same seed replays the same actions and faults; what the network makes of them in time
// may differ.
class Shift : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        quint32 seed = 1;
        int steps = 300;
        ShiftInvariants::Bounds bounds { 100, 100, 150, 0, 0, 1000 };
        QString openerFolder; // where the recording file explorer writes, or empty
    };

    Shift(DeviceSimulator &sim, const Options &options);
    ~Shift() override;

    // True when every step kept every promise; otherwise report() says which broke, where.
    bool run();
    QString report() const;
    // How often each kind of status line was seen after a step.
    QString tally() const;
    int stepsTaken() const;
    double firstStandStillMs() const;
    double longestStandStillMs() const;
    double longestGapMs() const;
    double peakResidentMb() const;
    int foldersShown() const;

private:
    struct Action
    {
        int weight;
        bool blocks; // the shift waits in a local event loop
        bool operatorAction; // done with the windows, so not while a message box is up
        std::function<void()> run;
    };

    void prepare();
    void takeStep();
    void pickAction();
    void checkPromises();
    void tallyStatus();
    void unwind();
    void note(const QString &what);
    void breakPromise(const QString &what);
    int watchNewWindows();
    void watchWindow(QWidget *window);
    int draw(int from, int to);

    // The operator
    void signIn(bool goodPassword, bool twice);
    void clickButton(const char *name);
    void slowReloadThenNextDay();
    bool waitFor(const std::function<bool()> &condition, int ms);
    void typeDate();
    void waitAWhile();
    void clickFileCell(int column);
    int heldOpenRow(QTableWidget *view, int column, int drawn, const QString &held) const;
    void fetchEnded(QWidget *window);
    void holdBoxOverReload();
    void scanAfterTableClick();
    void doubleClickLinkCell();
    void openHistory();
    void openTwice();
    void restoreVersion();
    void saveSettings();
    void logOutAndIn();
    // The service and the machine
    void switchFault();
    void changeLists();
    void changeFiles();
    void serveBadArchive();
    void limitWrites();
    void holdFileOpen();

    QWidget *taskWindow() const;
    QWidget *windowOrSignIn();
    HistoryWindow *historyWindow() const;
    void compressTime(QWidget *window);

    DeviceSimulator &m_sim;
    const Options m_options;
    QRandomGenerator m_random;
    ShiftInvariants m_invariants;
    MessageBoxCloser m_closer;
    QList<Action> m_actions;
    QTimer m_stepTimer;
    QEventLoop m_loop;
    int m_step = 0;
    int m_depth = 0;
    bool m_finishing = false;
    QString m_broken;
    QStringList m_lastSteps;
    QMap<QString, int> m_seen;
    QPointer<QWidget> m_dialog;
    int m_listRevision = 0;
    int m_fileRevision = 0;
    int m_faultSteps = 0;
    std::unique_ptr<FileSizeLimit> m_writeLimit;
    int m_writeLimitSteps = 0;
    std::unique_ptr<QFile> m_heldOpen;
    int m_heldOpenSteps = 0;
    // Clicks on link cells whose fetch has not yet ended: task, kind and when.
    QList<ShiftInvariants::Fetch> m_clicked;
    // A code scanned after a click elsewhere, until it reaches the scan field.
    QString m_scanned;
    qint64 m_scannedAtMs = 0;
    QElapsedTimer m_clock;
    int m_historyActionsEnded = 0;
    int m_fetchesSeen = 0;
    qint64 m_unwindingSinceMs = -1;
};

#endif // SHIFT_H
