#ifndef FILECHOOSER_H
#define FILECHOOSER_H

#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidget;

// A choice among a few entries (the tasks a scanned file name is in, or whether to fetch a
// program again) that does not wait: opened with open(), it reports once through chosen()
// with the entry picked, or -1, and deletes itself. No button is the default, so a
// scanner's Enter picks nothing; a new scan closes it.
class FileChooser : public QDialog
{
    Q_OBJECT

public:
    FileChooser(const QString &title, const QString &question, const QStringList &choices,
        const QString &acceptText, QWidget *parent = nullptr);

signals:
    void chosen(int index);

private:
    QListWidget *m_list;
};

#endif // FILECHOOSER_H
