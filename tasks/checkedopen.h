#ifndef CHECKEDOPEN_H
#define CHECKEDOPEN_H

#include "history/historyentry.h"
#include "history/installedcheck.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QMessageBox;

// Opens a task's NC folder or label PDF that the client did not fetch in the same action (a
// restored version, a program opened offline or by a scanned code) only after checking it
// against the version the history says is in place (InstalledCheck), off the GUI thread.
// When a file was changed, removed or added since, the operator is warned with the names and
// chooses; "取消" is the default, since a scanner ends each code with Enter. The check and
// the choice are recorded as a "check" row and logged. Nothing recorded to compare with, or
// a history that cannot be read, does not keep the files shut.
//
// A flow: approve() or open() returns at once, and finished() reports the choice once. The
// warning is a box that does not wait; deleting the flow (its parent window closing) closes
// it and ends the flow without a report.
class CheckedOpen : public QObject
{
    Q_OBJECT

public:
    enum class Choice
    {
        Opened, // opened: nothing differed, or the operator chose "仍然打开"
        Cancelled // the operator chose "取消" (or Enter, or closed the warning): nothing opened
    };
    Q_ENUM(Choice)

    // The rows name userId, and go to the history in historyFolder.
    CheckedOpen(const QString &historyFolder, const QString &userId, QObject *parent = nullptr);
    ~CheckedOpen() override;

    // Checks and opens the task's NC folder (kind "nc", path the folder) or label PDF (kind
    // "pdf", path the file; its folder is shown, as after a fetch).
    void open(const QString &kind, const QString &task, const QString &path);
    // The check, the warning and the row of open(), for a caller that opens the files its own
    // way (a folder with one file selected): Opened when they may be opened.
    void approve(const QString &kind, const QString &task, const QString &path);
    // The warning's text for those names.
    static QString warningText(const QStringList &names);

    // Adds a check row: entry's action, time, user and device are set here. It waits for the
    // disk: call it off the GUI thread.
    static bool record(const QString &historyFolder, const QString &userId, HistoryEntry &entry);
    // The stored outcome of a check made before opening, "Changed / Cancelled".
    static QString outcome(InstalledCheck::Result result, Choice choice);
    static QString choiceName(Choice choice);

signals:
    void finished(CheckedOpen::Choice choice);

private:
    struct Checked
    {
        InstalledCheck::Result result = InstalledCheck::Result::Unreadable;
        InstalledCheck::Differences differences;
        QString error;
    };

    void checked(const Checked &check);
    void ask(const Checked &check);
    void decided(const Checked &check, Choice choice);
    void log(const Checked &check, Choice choice) const;

    QString m_folder;
    QString m_userId;
    QString m_kind;
    QString m_task;
    QString m_path;
    bool m_openAfter = false;
    QPointer<QMessageBox> m_box;
};

#endif // CHECKEDOPEN_H
