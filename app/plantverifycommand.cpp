#include "app/plantverifycommand.h"

#include "app/applog.h"
#include "plant/plantconnection.h"
#include "plant/plantverifier.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QTextStream>

namespace {

const QString verifyOption = QStringLiteral("verify-plant");
const QString stationOption = QStringLiteral("station");
const QString conninfoOption = QStringLiteral("conninfo");

constexpr int intact = 0;
constexpr int broken = 1;
constexpr int cannotCheck = 2;

int cannot(const QString &why)
{
    QTextStream(stderr) << "quillet --verify-plant: " << why << '\n';
    qCWarning(appLog).noquote() << "plant history check failed:" << why;
    return cannotCheck;
}

} // namespace

QList<QCommandLineOption> PlantVerifyCommand::options()
{
    return { QCommandLineOption(verifyOption,
                 QStringLiteral("Checks every station's hash chain in the plant history and exits.")),
        QCommandLineOption(stationOption,
            QStringLiteral("With --verify-plant or --plant-history: that station's rows only."),
            QStringLiteral("ROLE")),
        QCommandLineOption(conninfoOption,
            QStringLiteral("With --verify-plant or --plant-history: the plant store to read instead of "
                           "plantHistory in quillet.ini."),
            QStringLiteral("CONNINFO")) };
}

PlantConfig PlantVerifyCommand::plantStore(const QCommandLineParser &parser, QString &why)
{
    const QString folder = QCoreApplication::applicationDirPath();
    const PlantConfig config = parser.isSet(conninfoOption)
        ? PlantConfig::parse(parser.value(conninfoOption), folder)
        : PlantConfig::configured(folder);
    if (config.isEmpty())
        why = QStringLiteral("no plant store: set plantHistory in quillet.ini or give --conninfo");
    else if (!config.isValid())
        why = config.problem();
    return config;
}

int PlantVerifyCommand::run(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty())
        return cannot(QStringLiteral("usage: quillet --verify-plant [--station ROLE] [--conninfo CONNINFO]"));
    QString why;
    const PlantConfig config = plantStore(parser, why);
    if (!why.isEmpty())
        return cannot(why);
    PlantConnection connection(config, QStringLiteral("verify"));
    const PlantConnection::Result opened = connection.open();
    if (opened != PlantConnection::Result::Connected)
        return cannot(
            QStringLiteral("%1: %2").arg(PlantConnection::resultName(opened), connection.errorString()));
    PlantVerifier verifier;
    const PlantVerifier::Result result = verifier.verify(connection.database(), parser.value(stationOption));
    if (result == PlantVerifier::Result::CannotCheck)
        return cannot(verifier.findings().value(0));
    QTextStream out(stdout);
    for (const QString &line : verifier.summary())
        out << line << '\n';
    if (result == PlantVerifier::Result::Intact) {
        out << "the plant history holds\n";
        qCInfo(appLog).noquote() << "plant history checked: intact," << verifier.summary().size() << "stores";
        return intact;
    }
    for (const QString &finding : verifier.findings())
        out << finding << '\n';
    qCWarning(appLog).noquote() << "plant history checked: broken:" << verifier.findings().value(0);
    return broken;
}
