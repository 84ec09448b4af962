#include "app/historyexportcommand.h"

#include "app/consoleoutput.h"

#include "history/historyconnection.h"
#include "history/historycsv.h"
#include "history/historystore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDebug>
#include <QFileInfo>
#include <QTextStream>

#include <cstring>

namespace {

const char *const exportOption = "--export-history";

int fail(const QString &why)
{
    QTextStream(stderr) << "quillet --export-history: " << why << '\n';
    qDebug().noquote() << "history export failed:" << why;
    return 1;
}

} // namespace

bool HistoryExportCommand::isRequested(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], exportOption) == 0 || std::strncmp(argv[i], "--export-history=", 17) == 0)
            return true;
    }
    return false;
}

int HistoryExportCommand::run(int argc, char *argv[])
{
    ConsoleOutput::attach();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption exportTo(
        QStringLiteral("export-history"), QString(), QStringLiteral("FILE.csv"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("yyyy-MM-dd"));
    parser.addOptions({ exportTo, since });
    if (!parser.parse(app.arguments()))
        return fail(parser.errorText());
    const QString fileName = parser.value(exportTo);
    if (fileName.isEmpty() || !parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("usage: quillet --export-history FILE.csv [--since yyyy-MM-dd]"));

    HistoryStore::Filter filter;
    if (parser.isSet(since)) {
        filter.since = QDate::fromString(parser.value(since), QStringLiteral("yyyy-MM-dd"));
        if (!filter.since.isValid())
            return fail(QStringLiteral("\"%1\" is no date of the form yyyy-MM-dd").arg(parser.value(since)));
    }
    // Exporting only reads: it never starts, upgrades or sets aside the client's history.
    const QString folder = HistoryStore::defaultFolder();
    if (!QFileInfo::exists(HistoryConnection::fileName(folder)))
        return fail(QStringLiteral("there is no history in %1").arg(folder));

    HistoryStore store(folder, HistoryConnection::Access::ReadOnly);
    QString error;
    int count = 0;
    if (!HistoryCsv::write(store, filter, fileName, &error, &count))
        return fail(error);
    QTextStream(stdout) << count << " entries written to " << fileName << '\n';
    return 0;
}
