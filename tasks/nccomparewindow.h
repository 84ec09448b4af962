#ifndef NCCOMPAREWINDOW_H
#define NCCOMPAREWINDOW_H

#include "history/nccompare.h"

#include <QDialog>
#include <QString>

class QLabel;
class QListWidget;
class QTextBrowser;

// The outcome of comparing two versions of an NC program: the files added, removed and
// changed, and for the selected changed program its changed lines as the files hold them,
// with their line numbers, removed lines in red and added ones in green. The window
// deletes itself when closed.
class NcCompareWindow : public QDialog
{
    Q_OBJECT

public:
    // older and newer name the two versions for the operator.
    NcCompareWindow(const NcCompare::Result &result, const QString &older, const QString &newer,
        QWidget *parent = nullptr);

    QString summary() const;

private slots:
    void showFile(int row);

private:
    static QString fileText(const NcCompare::FileDiff &file);
    static QString linesHtml(const NcCompare::FileDiff &file);

    NcCompare::Result m_result;
    QLabel *m_summary;
    QListWidget *m_files;
    QTextBrowser *m_lines;
};

#endif // NCCOMPAREWINDOW_H
