#ifndef HISTORYVERIFIER_H
#define HISTORYVERIFIER_H

#include <QString>
#include <QStringList>

class QSqlDatabase;
class QSqlQuery;

// Checks the hash chain of a history (HistoryChain), opened read-only: every chained row
// must follow the one before it, and a head exported earlier must still be in the chain.
// A row without a chain after the boundary breaks the record too. Then every version kept
// in the history folder is checked against the digests the history holds for it.
class HistoryVerifier
{
public:
    enum class Result
    {
        Intact,
        Broken,
        CannotCheck
    };

    explicit HistoryVerifier(const QString &folder);

    // expectedHead: a chain value from an earlier export, or empty.
    Result verify(const QString &expectedHead = QString());
    // What is broken, the first broken row first; on CannotCheck, why.
    QStringList findings() const;
    // The chain value of the newest chained row.
    QString head() const;

private:
    bool walk(QSqlDatabase db, const QByteArray &expected, bool &expectedFound);
    bool checkKept(QSqlDatabase db);
    bool keptVersionHolds(QSqlQuery &installed, QSqlQuery &files, const QSqlQuery &kept);

    QString m_folder;
    QStringList m_findings;
    QString m_head;
};

#endif // HISTORYVERIFIER_H
