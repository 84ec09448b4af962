#ifndef COMMANDLINE_H
#define COMMANDLINE_H

class LogFile;

// What the program is asked for on its command line: the sign-in window, the help text, or a
// command that runs without a window and without the service. Decided from the raw arguments
// before any application object exists, since the window needs a QApplication and a command
// must also run where there is no display. Single-dash arguments belong to Qt (-platform,
// -style, ...) and reach QApplication untouched, as do Qt's options written with two dashes.
class CommandLine
{
public:
    CommandLine(int &argc, char **argv);

    // Neither help nor a command nor a two-dash option the program does not know.
    bool opensWindow() const { return m_opensWindow; }
    // Prints the help text and returns 0; refuses an unknown option with the help text on
    // standard error and returns 2; or runs the command, which prints its result on standard
    // output or one line on standard error saying why it failed (1). A command's log messages
    // go to the log file only, so that the console shows just that.
    int run(LogFile &log);

private:
    int &m_argc;
    char **m_argv;
    bool m_opensWindow = true;
};

#endif // COMMANDLINE_H
