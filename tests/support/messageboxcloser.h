#ifndef MESSAGEBOXCLOSER_H
#define MESSAGEBOXCLOSER_H

#include <QObject>
#include <QStringList>
#include <QTimer>

// Closes every message box that comes up while it lives, with the answer button where it
// has one, else its OK button, and remembers what each said as "title|text".
class MessageBoxCloser : public QObject
{
public:
    MessageBoxCloser();

    QStringList seen;
    // The button to press where a box has it (QMessageBox::StandardButton); OK by default.
    int answer = 0x00000400;
    // Press Enter in the box instead, as a scanner ends each code: its focused or default
    // button answers.
    bool pressEnter = false;
    // Leaves the boxes that come up open for ms, as an operator who has stepped away.
    void holdFor(int ms);

private:
    void closeOpenBoxes();

    QTimer timer;
};

#endif // MESSAGEBOXCLOSER_H
