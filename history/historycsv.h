#ifndef HISTORYCSV_H
#define HISTORYCSV_H

#include "history/historystore.h"

#include <QString>

// The history as a CSV file for the quality office: UTF-8 with a byte-order mark, so that
// spreadsheet programs show the Chinese texts, one line per entry with the SHA-256 in full.
class HistoryCsv
{
public:
    static QString header();
    static QString line(const HistoryEntry &entry);
    // A field quoted where it must be. A text that a spreadsheet would take for a formula
    // gets a leading apostrophe, so that opening the file never runs anything.
    static QString field(const QString &text);

    // Writes the entries the filter takes to fileName through a QSaveFile: the file is
    // complete or left as it was. Counts the lines written in count when given.
    static bool write(HistoryStore &store, const HistoryStore::Filter &filter, const QString &fileName,
        QString *error, int *count = nullptr);
};

#endif // HISTORYCSV_H
