#ifndef SHIFTINVARIANTS_H
#define SHIFTINVARIANTS_H

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class DeviceSimulator;
class HistoryStore;
struct HistoryEntry;

// What the client promises at every moment of a shift, one small function each, named after
// the promise. Each returns an empty text while the promise holds, else what broke.
class ShiftInvariants
{
public:
    struct Bounds
    {
        int firstStandStillMs; // the longest the event loop may stand still until the first
                               // task window has been shown and painted
        int standStillMs; // the longest it may stand still after that
        int residentMb; // the most resident memory the process may take
        int lateMs; // how much later than due a reload or retry may come
        int staleMs; // the longest a task window may go without a new load or retry
        int overdueMs; // how long after its due time a reload or retry may still be unsent
    };

    // A label PDF or NC program the client fetched for a click of the shift's, as its log
    // says, and whether the status line then said that the history was unavailable.
    struct Fetch
    {
        QString task;
        QString kind; // "pdf" or "nc", as the history names it
        QDateTime began;
        QDateTime ended;
        bool historyUnavailableShown;
    };

    // openerFolder is where the recording file explorer notes the folders it shows, or empty.
    ShiftInvariants(DeviceSimulator &sim, const QString &programFolder, const Bounds &bounds,
        const QString &openerFolder);

    // Remembers what is beside the program before the shift, and starts timing the event loop.
    void begin();
    // The newest task-list revision the simulator has served.
    void setNewestListRevision(int revision);
    // A fetch that has ended, for everyFetchHasItsHistoryRow().
    void addFetch(const Fetch &fetch);
    // Checks between steps: the time they take is not a stand-still of the client's.
    void pauseWatch();
    void resumeWatch();

    // Every promise, in order; the first broken one, or an empty text. window is the task
    // window shown, or null while none is; actionsUnderWay tells whether a fetch or load
    // may be half-way through its files.
    QString check(QWidget *window, bool actionsUnderWay);

    QString rowsAreTheShownDay(QWidget *window) const;
    QString statusLineMatches(QWidget *window) const;
    QString filesAreServedVersions() const;
    QString noFileOutsideItsFolders(bool actionsUnderWay) const;
    QString eventLoopNeverStood() const;
    QString memoryStaysBounded() const;
    QString everyFetchHasItsHistoryRow() const;
    QString foldersShownAreTheClients() const;
    QString reloadsComeWhenDue(QWidget *window);

    // The longest stand-still of the client's own until the first task window was painted,
    // and after it; the longest gap of any cause.
    double firstStandStillMs() const;
    double longestStandStillMs() const;
    double longestGapMs() const;
    double peakResidentMb() const;
    int foldersShown() const;

private:
    QStringList topLevelEntries(const QString &folder) const;
    bool isServed(const QString &path, const QByteArray &content) const;
    QString unservedDetail(const QString &path, const QByteArray &content) const;
    QString folderIsOneServedArchive(const QString &folder, const QString &zipPath) const;
    QMap<QString, QByteArray> archiveEntries(const QByteArray &zip) const;
    QString stampOf(const QString &path) const;
    bool isVerified(const QString &path) const;
    void markVerified(const QString &path) const;
    bool findHistoryRow(HistoryStore &store, const Fetch &fetch, HistoryEntry &found) const;
    bool isServedSha256(const Fetch &fetch, const QString &sha256) const;
    void tick();
    void watchReloads(QWidget *window);
    qint64 nowMs() const;
    static qint64 threadCpuNs();
    static double residentMb();

    DeviceSimulator &m_sim;
    const QString m_programFolder;
    const Bounds m_bounds;
    const QString m_openerFolder;
    mutable int m_foldersShown = 0;
    int m_foldersBefore = 0;
    int m_newestListRevision = 0;
    QStringList m_programFolderBefore;
    QStringList m_parentFolderBefore;
    mutable QHash<QByteArray, QMap<QString, QByteArray>> m_archiveCache;
    mutable QHash<QString, QString> m_verified;
    mutable double m_peakResidentMb = 0;
    mutable QList<Fetch> m_fetches; // not yet found in the history
    mutable QSet<qint64> m_historyRowsFound;

    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_lastTickNs = 0;
    qint64 m_lastTickCpuNs = 0;
    qint64 m_longestFirstNs = 0;
    qint64 m_longestNs = 0;
    int m_checksWithWindow = 0;
    qint64 m_longestWallNs = 0;
    bool m_paused = false;

    // The task window whose reloads are watched, since when it has had nothing armed and
    // nothing under way, and since when each of its requests has waited.
    QPointer<QWidget> m_reloading;
    qint64 m_idleSinceMs = -1;
    QHash<QObject *, qint64> m_callsSeen;
};

#endif // SHIFTINVARIANTS_H
