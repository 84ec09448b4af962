#ifndef MESSAGEBOXCLOSER_H
#define MESSAGEBOXCLOSER_H

#include <QObject>
#include <QStringList>
#include <QTimer>

// Closes every message box that comes up while it lives, with its OK button where it has
// one, and remembers what each said as "title|text".
class MessageBoxCloser : public QObject
{
public:
    MessageBoxCloser();

    QStringList seen;

private:
    void closeOpenBoxes();

    QTimer timer;
};

#endif // MESSAGEBOXCLOSER_H
