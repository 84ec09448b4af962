#include "history/historycsv.h"

#include <QSaveFile>
#include <QStringList>

QString HistoryCsv::header()
{
    return QStringLiteral(
        "时间,操作,用户,设备,任务,类型,来源,本地路径,字节,SHA-256,结果,成功,耗时(毫秒),保留的旧版本,"
        "结果说明,时间(UTC),链");
}

QString HistoryCsv::line(const HistoryEntry &entry, const Words &words)
{
    const QStringList fields { HistoryStore::localTimeText(entry), entry.action, entry.userId, entry.device,
        entry.task, entry.kind, entry.source, entry.target, QString::number(entry.bytes), entry.sha256,
        entry.outcome, entry.ok ? QStringLiteral("1") : QStringLiteral("0"),
        QString::number(entry.durationMs), entry.keptPath, words ? words(entry) : QString(),
        HistoryStore::timeText(entry), entry.chain };
    QStringList quoted;
    for (const QString &value : fields)
        quoted << field(value);
    return quoted.join(QLatin1Char(','));
}

QString HistoryCsv::field(const QString &text)
{
    QString value = text;
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!value.isEmpty() && formulaStarts.contains(value.at(0)))
        value.prepend(QLatin1Char('\''));
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"'))
        && !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    value.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + value + QLatin1Char('"');
}

bool HistoryCsv::write(HistoryStore &store, const HistoryStore::Filter &filter, const QString &fileName,
    QString *error, int *count, const Words &words)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    int lines = 0;
    QByteArray buffer = QByteArrayLiteral("\xEF\xBB\xBF") + header().toUtf8() + "\r\n";
    const bool read = store.forEach(filter, [&](const HistoryEntry &entry) {
        buffer += line(entry, words).toUtf8();
        buffer += "\r\n";
        ++lines;
        if (buffer.size() >= (1 << 20)) {
            file.write(buffer);
            buffer.clear();
        }
    });
    if (!read) {
        file.cancelWriting();
        if (error)
            *error = store.lastError();
        return false;
    }
    // The head closes the file: kept apart from the history, it lets a later check notice
    // the newest rows deleted.
    QString head;
    if (!store.head(head)) {
        file.cancelWriting();
        if (error)
            *error = store.lastError();
        return false;
    }
    buffer += QStringLiteral("链头,%1\r\n").arg(head).toUtf8();
    file.write(buffer);
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    if (count)
        *count = lines;
    return true;
}
