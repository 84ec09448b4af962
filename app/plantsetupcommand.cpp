#include "app/plantsetupcommand.h"

#include "app/applog.h"
#include "plant/plantconnection.h"
#include "plant/plantschema.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QTextStream>

namespace {

const QString setupOption = QStringLiteral("plant-setup");

int fail(const QString &why)
{
    QTextStream(stderr) << "quillet --plant-setup: " << why << '\n';
    qCWarning(appLog).noquote() << "plant setup failed:" << why;
    return 1;
}

} // namespace

QList<QCommandLineOption> PlantSetupCommand::options()
{
    return { QCommandLineOption(setupOption,
        QStringLiteral("Creates or updates the plant history's schema and roles in the PostgreSQL database "
                       "CONNINFO names (libpq keywords, a role with CREATEROLE that owns it) and exits."),
        QStringLiteral("CONNINFO")) };
}

int PlantSetupCommand::run(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("usage: quillet --plant-setup CONNINFO"));
    const PlantConfig config
        = PlantConfig::parse(parser.value(setupOption), QCoreApplication::applicationDirPath());
    if (!config.isValid())
        return fail(config.isEmpty() ? QStringLiteral("no CONNINFO given") : config.problem());
    QTextStream out(stdout);
    for (const QString &warning : config.warnings())
        out << "warning: " << warning << '\n';
    PlantConnection connection(config, QStringLiteral("setup"));
    const PlantConnection::Result opened = connection.open();
    if (opened != PlantConnection::Result::Connected)
        return fail(
            QStringLiteral("%1: %2").arg(PlantConnection::resultName(opened), connection.errorString()));
    QStringList report;
    QString error;
    if (!PlantSchema::setup(connection.database(), report, error))
        return fail(error);
    for (const QString &line : report + PlantSchema::perStation(config.value(QStringLiteral("dbname"))))
        out << line << '\n';
    qCInfo(appLog).noquote() << "plant setup done in" << config.description();
    return 0;
}
