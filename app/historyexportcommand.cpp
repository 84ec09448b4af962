#include "app/historyexportcommand.h"

#include "app/applog.h"

#include "history/historyconnection.h"
#include "history/historycsv.h"
#include "history/historystore.h"
#include "tasks/historymodel.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDebug>
#include <QFileInfo>
#include <QTextStream>

namespace {

const QString exportOption = QStringLiteral("export-history");
const QString sinceOption = QStringLiteral("since");

int fail(const QString &why)
{
    QTextStream(stderr) << "quillet --export-history: " << why << '\n';
    qCWarning(appLog).noquote() << "history export failed:" << why;
    return 1;
}

} // namespace

QList<QCommandLineOption> HistoryExportCommand::options()
{
    return { QCommandLineOption(exportOption,
                 QStringLiteral("Writes the fetch history to FILE.csv (UTF-8 with BOM) and exits."),
                 QStringLiteral("FILE.csv")),
        QCommandLineOption(sinceOption,
            QStringLiteral("With --export-history: only entries from that day on."),
            QStringLiteral("yyyy-MM-dd")) };
}

int HistoryExportCommand::run(const QCommandLineParser &parser)
{
    const QString fileName = parser.value(exportOption);
    if (fileName.isEmpty() || !parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("usage: quillet --export-history FILE.csv [--since yyyy-MM-dd]"));

    HistoryStore::Filter filter;
    if (parser.isSet(sinceOption)) {
        filter.since = QDate::fromString(parser.value(sinceOption), QStringLiteral("yyyy-MM-dd"));
        if (!filter.since.isValid())
            return fail(
                QStringLiteral("\"%1\" is no date of the form yyyy-MM-dd").arg(parser.value(sinceOption)));
    }
    // Exporting only reads: it never starts, upgrades or sets aside the client's history.
    const QString folder = HistoryStore::defaultFolder();
    if (!QFileInfo::exists(HistoryConnection::fileName(folder)))
        return fail(QStringLiteral("there is no history in %1").arg(folder));

    HistoryStore store(folder, HistoryConnection::Access::ReadOnly);
    QString error;
    int count = 0;
    if (!HistoryCsv::write(store, filter, fileName, &error, &count, &HistoryModel::outcomeText))
        return fail(error);
    QTextStream(stdout) << count << " entries written to " << fileName << '\n';
    qCInfo(appLog).noquote() << "history exported:" << count << "entries to" << fileName;
    return 0;
}
