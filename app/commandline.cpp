#include "app/commandline.h"

#include "app/consoleoutput.h"
#include "app/historyexportcommand.h"
#include "app/historyverifycommand.h"
#include "app/logfile.h"
#include "app/nccomparecommand.h"
#include "app/planthistorycommand.h"
#include "app/plantsetupcommand.h"
#include "app/plantverifycommand.h"
#include "app/supportbundlecommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

// A command: its options, the first of which asks for it, and what runs it.
struct Command
{
    QList<QCommandLineOption> (*options)();
    int (*run)(const QCommandLineParser &parser);
};

const Command commands[] = {
    { &HistoryExportCommand::options, &HistoryExportCommand::run },
    { &HistoryVerifyCommand::options, &HistoryVerifyCommand::run },
    { &NcCompareCommand::options, &NcCompareCommand::run },
    { &SupportBundleCommand::options, &SupportBundleCommand::run },
    { &PlantSetupCommand::options, &PlantSetupCommand::run },
    { &PlantVerifyCommand::options, &PlantVerifyCommand::run },
    { &PlantHistoryCommand::options, &PlantHistoryCommand::run },
};

// The options QGuiApplication, QApplication and the platform plugins read themselves.
struct QtOption
{
    const char *name;
    bool takesValue;
};

const QtOption qtOptions[] = { { "platform", true }, { "platformpluginpath", true },
    { "platformtheme", true }, { "plugin", true }, { "qmljsdebugger", true }, { "qwindowgeometry", true },
    { "geometry", true }, { "qwindowtitle", true }, { "title", true }, { "qwindowicon", true },
    { "icon", true }, { "session", true }, { "style", true }, { "stylesheet", true }, { "display", true },
    { "name", true }, { "visual", true }, { "reverse", false }, { "widgetcount", false },
    { "testability", false }, { "sync", false }, { "nograb", false }, { "dograb", false } };

const int usageError = 2;

bool isQtOption(const QString &name)
{
    for (const QtOption &option : qtOptions) {
        if (name == QLatin1String(option.name))
            return true;
    }
    return false;
}

// Help, or any two-dash option that is not Qt's, is the program's to answer.
bool isOurs(const QString &argument)
{
    if (argument == QLatin1String("-h") || argument == QLatin1String("-?"))
        return true;
    if (!argument.startsWith(QLatin1String("--")) || argument.size() == 2)
        return false;
    return !isQtOption(argument.mid(2).section(QLatin1Char('='), 0, 0));
}

// Qt's options are known but hidden, so that "-platform offscreen" may come with a command.
void addQtOptions(QCommandLineParser &parser)
{
    for (const QtOption &qt : qtOptions) {
        QCommandLineOption option(QLatin1String(qt.name));
        if (qt.takesValue)
            option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

const Command *requested(const QCommandLineParser &parser)
{
    for (const Command &command : commands) {
        if (parser.isSet(command.options().constFirst()))
            return &command;
    }
    return nullptr;
}

int refuse(const QCommandLineParser &parser, const QString &why)
{
    QTextStream(stderr) << "quillet: " << why << "\n\n" << parser.helpText();
    return usageError;
}

// A value missing or malformed fails the command it belongs to.
int parseFailure(const QCommandLineParser &parser)
{
    if (!parser.unknownOptionNames().isEmpty())
        return refuse(parser, parser.errorText());
    QTextStream(stderr) << "quillet: " << parser.errorText() << '\n';
    return 1;
}

void keepOffConsole(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

CommandLine::CommandLine(int &argc, char **argv)
    : m_argc(argc)
    , m_argv(argv)
{
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--"))
            break;
        if (isOurs(argument))
            m_opensWindow = false;
    }
}

int CommandLine::run(LogFile &log)
{
    ConsoleOutput::attach();
    QCoreApplication app(m_argc, m_argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Without a command Quillet opens its sign-in window; Qt's own options (-platform, "
                       "-style, ...) apply to it."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({ "?", "h", "help" }, QStringLiteral("Shows this text."));
    parser.addOption(help);
    for (const Command &command : commands)
        parser.addOptions(command.options());
    addQtOptions(parser);

    if (!parser.parse(app.arguments()))
        return parseFailure(parser);
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    const Command *command = requested(parser);
    if (!command)
        return refuse(parser, QStringLiteral("no command given"));
    // Installed under the log, the silent handler is where the log passes its messages on.
    qInstallMessageHandler(keepOffConsole);
    log.install();
    return command->run(parser);
}
