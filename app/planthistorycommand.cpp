#include "app/planthistorycommand.h"

#include "app/applog.h"
#include "app/plantverifycommand.h"
#include "history/historycsv.h"
#include "plant/plantconnection.h"
#include "plant/plantrecord.h"
#include "tasks/historymodel.h"

#include <QCommandLineParser>
#include <QDebug>
#include <QFile>
#include <QTextStream>

namespace {

const QString historyOption = QStringLiteral("plant-history");
const QString taskOption = QStringLiteral("task");

int fail(const QString &why)
{
    QTextStream(stderr) << "quillet --plant-history: " << why << '\n';
    qCWarning(appLog).noquote() << "plant history listing failed:" << why;
    return 1;
}

} // namespace

QList<QCommandLineOption> PlantHistoryCommand::options()
{
    return { QCommandLineOption(historyOption,
                 QStringLiteral("Prints the plant history of every station as CSV (UTF-8), the station last, "
                                "and exits.")),
        QCommandLineOption(taskOption, QStringLiteral("With --plant-history: that task's rows only."),
            QStringLiteral("T")) };
}

int PlantHistoryCommand::run(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("usage: quillet --plant-history [--task T] [--station ROLE] [--since "
                                   "yyyy-MM-dd] [--conninfo CONNINFO]"));
    PlantRecord::Filter filter { parser.value(taskOption), parser.value(QStringLiteral("station")), QDate() };
    if (parser.isSet(QStringLiteral("since"))) {
        filter.since = QDate::fromString(parser.value(QStringLiteral("since")), QStringLiteral("yyyy-MM-dd"));
        if (!filter.since.isValid())
            return fail(QStringLiteral("\"%1\" is no date of the form yyyy-MM-dd")
                            .arg(parser.value(QStringLiteral("since"))));
    }
    QString why;
    const PlantConfig config = PlantVerifyCommand::plantStore(parser, why);
    if (!why.isEmpty())
        return fail(why);
    PlantConnection connection(config, QStringLiteral("list"));
    const PlantConnection::Result opened = connection.open();
    if (opened != PlantConnection::Result::Connected)
        return fail(
            QStringLiteral("%1: %2").arg(PlantConnection::resultName(opened), connection.errorString()));

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write to standard output"));
    QByteArray buffer = QByteArrayLiteral("\xEF\xBB\xBF") + HistoryCsv::header().toUtf8() + ",站点\r\n";
    int count = 0;
    const bool listed = PlantRecord::list(
        connection.database(), filter,
        [&](const HistoryEntry &entry, const QString &station) {
            buffer += (HistoryCsv::line(entry, &HistoryModel::outcomeText) + QLatin1Char(',')
                          + HistoryCsv::field(station))
                          .toUtf8()
                + "\r\n";
            ++count;
            if (buffer.size() >= (1 << 20)) {
                out.write(buffer);
                buffer.clear();
            }
        },
        why);
    QList<QPair<QString, QString>> heads;
    if (!listed || !PlantRecord::heads(connection.database(), filter.station, heads, why))
        return fail(why);
    for (const auto &head : qAsConst(heads))
        buffer += QStringLiteral("链头,%1,%2\r\n").arg(head.second, HistoryCsv::field(head.first)).toUtf8();
    out.write(buffer);
    out.flush();
    qCInfo(appLog).noquote() << "plant history listed:" << count << "rows of" << heads.size() << "stations";
    return 0;
}
