#ifndef HISTORYVERIFIER_H
#define HISTORYVERIFIER_H

#include <QString>
#include <QStringList>

class QSqlDatabase;
class QSqlQuery;

// Checks the hash chain of a history (HistoryChain), opened read-only: every chained row
// must follow the one before it, and a head exported earlier must still be in the chain.
// A row without a chain after the boundary breaks the record too. Then every version kept
// in the history folder is checked against the digests the history holds for it, and each
// task's version in place (its NC folder and label PDF) against its rows, as InstalledCheck
// does for the window.
class HistoryVerifier
{
public:
    enum class Result
    {
        Intact, // the record holds, and so do the programs in place
        Broken, // a row, the chain or a kept version does not hold
        CannotCheck,
        ProgramsChanged // the record holds; files in place were changed, removed or added since
    };
    enum class Scope
    {
        RecordAndFiles,
        RecordOnly // the chain alone: no kept version or file in place is read
    };

    explicit HistoryVerifier(const QString &folder);

    // expectedHead: a chain value from an earlier export (isChainValue()), or empty.
    Result verify(const QString &expectedHead = QString(), Scope scope = Scope::RecordAndFiles);
    // What is broken, the first broken row first, then the files changed in place; on
    // CannotCheck, why.
    QStringList findings() const;
    // The chain value of the newest chained row.
    QString head() const;
    // Whether text is a chain value: exactly 64 hexadecimal digits.
    static bool isChainValue(const QString &text);

private:
    bool walk(QSqlDatabase db, const QByteArray &expected, bool &expectedFound);
    bool checkKept(QSqlDatabase db);
    bool keptVersionHolds(QSqlDatabase db, QSqlQuery &files, const QSqlQuery &kept);
    bool checkInPlace(QStringList &changed);

    QString m_folder;
    QStringList m_findings;
    QString m_head;
};

#endif // HISTORYVERIFIER_H
