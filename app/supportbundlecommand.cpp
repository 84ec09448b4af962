#include "app/supportbundlecommand.h"

#include "app/applog.h"
#include "app/serverconfig.h"
#include "tasks/supportbundle.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QTextStream>

namespace {

const QString bundleOption = QStringLiteral("support-bundle");

int fail(const QString &why)
{
    QTextStream(stderr) << "quillet --support-bundle: " << why << '\n';
    qCWarning(appLog).noquote() << "support bundle failed:" << why;
    return 1;
}

} // namespace

QList<QCommandLineOption> SupportBundleCommand::options()
{
    return { QCommandLineOption(bundleOption,
        QStringLiteral("Writes the log, the settings, the system and the newest history for a technician to "
                       "FILE.zip, without any password, and exits."),
        QStringLiteral("FILE.zip")) };
}

int SupportBundleCommand::run(const QCommandLineParser &parser)
{
    const QString fileName = parser.value(bundleOption);
    if (fileName.isEmpty() || !parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("usage: quillet --support-bundle FILE.zip"));
    const QString root = ServerConfig::serverRoot(QCoreApplication::applicationDirPath());
    SupportBundle bundle(SupportBundle::Sources::besideProgram(root));
    if (!bundle.write(fileName))
        return fail(bundle.errorString());
    QTextStream(stdout) << "support bundle written to " << QDir::toNativeSeparators(fileName) << '\n';
    qCInfo(appLog).noquote() << "support bundle written to" << QDir::toNativeSeparators(fileName);
    return 0;
}
