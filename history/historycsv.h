#ifndef HISTORYCSV_H
#define HISTORYCSV_H

#include "history/historystore.h"

#include <QString>

#include <functional>

// The history as a CSV file for the quality office: UTF-8 with a byte-order mark, so that
// spreadsheet programs show the Chinese texts, one line per entry with the SHA-256 in full.
// Spreadsheet imports read the columns by position: new ones are only ever appended.
class HistoryCsv
{
public:
    // The operator's words for an entry's outcome; the history knows only their names.
    using Words = std::function<QString(const HistoryEntry &)>;

    static QString header();
    // The time first in local time, as it always was; the UTC time last.
    static QString line(const HistoryEntry &entry, const Words &words = Words());
    // A field quoted where it must be. A text that a spreadsheet would take for a formula
    // gets a leading apostrophe, so that opening the file never runs anything.
    static QString field(const QString &text);

    // Writes the entries the filter takes to fileName through a QSaveFile: the file is
    // complete or left as it was. Counts the lines written in count when given.
    static bool write(HistoryStore &store, const HistoryStore::Filter &filter, const QString &fileName,
        QString *error, int *count = nullptr, const Words &words = Words());
};

#endif // HISTORYCSV_H
