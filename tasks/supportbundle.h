#ifndef SUPPORTBUNDLE_H
#define SUPPORTBUNDLE_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The one zip a technician asks for when something went wrong on a PC. What goes in is a fixed
// list, each entry built here as text: the log files, quillet.ini (the keys the client reads,
// IniFile::keys(), with their values scrubbed; any other key's value hidden), what the program and the system
// are, the clock, the free space, what the history check says, the plant history's store and backlog, the
// newest history rows and the kept task lists by day and count. Nothing else is read, so the credential file,
// a sign-in verifier, an NC program or a label never gets in by accident. Every address loses its user info,
// parameters and query, every sign-in path its password digest, and a line still holding a remembered
// password or its MD5 is left out. Above the size limit the oldest log lines go first, then the oldest
// history rows; nothing else is trimmed. README.txt names every entry and says what was left out.
class SupportBundle
{
public:
    // Where the material lies; the command and the history window fill it in.
    struct Sources
    {
        QString programFolder; // where the free space is measured
        QString logFolder; // "quillet.log" and its rotations
        QString iniFile; // "quillet.ini"
        QString historyFolder;
        QString serviceRoot;
        QStringList passwords; // must appear nowhere, neither as typed nor as their MD5

        // Everything beside the running program, with the passwords this PC remembers.
        static Sources besideProgram(const QString &serviceRoot);
    };

    static constexpr qint64 defaultSizeLimit = qint64(20) << 20;
    static constexpr int historyRows = 1000;

    explicit SupportBundle(const Sources &sources, qint64 sizeLimit = defaultSizeLimit);

    // Gathers the entries and writes the zip to fileName through a QSaveFile: the file is a
    // whole bundle or left as it was. False when it cannot be written, errorString() says why.
    bool write(const QString &fileName);
    QString errorString() const;

    // The passwords this PC remembers: the settings' own, and those the passwordSource set by
    // the program (which knows the credential file) returns.
    static QStringList rememberedPasswords();
    static void setPasswordSource(const std::function<QStringList()> &source);
    // text with every address stripped of its user info, parameters, query and fragment, and every
    // sign-in path of its password digest.
    static QString scrubbed(const QString &text);

private:
    struct Entry
    {
        QString name;
        QString about; // for README.txt
        QStringList lines;
        int firstRow = 0; // lines before it (a header) are never dropped for size
        int droppedOld = 0;
        bool scrubbed = false; // its addresses were scrubbed field by field
        bool trimmable = false; // log lines or history rows, the oldest of which go above the limit
    };

    void gather();
    Entry systemEntry() const;
    QString plantLine() const;
    void addIni();
    static QStringList iniLines(const QStringList &lines);
    void addLogs();
    void addHistory();
    void addTaskLists();
    void clean(Entry &entry);
    bool holdsPassword(const QString &line) const;
    void keepWithinLimit();
    Entry readme() const;
    QStringList leftOutLines() const;
    QByteArray zipped() const;

    Sources m_sources;
    qint64 m_sizeLimit;
    QStringList m_secrets;
    QList<Entry> m_entries;
    QStringList m_missing;
    int m_secretLines = 0;
    QString m_error;
};

#endif // SUPPORTBUNDLE_H
