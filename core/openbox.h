#ifndef OPENBOX_H
#define OPENBOX_H

#include <QMessageBox>
#include <QString>

// A message box that does not wait: it has no parent (the window that asked may close while
// it is up), is opened with open() and deletes itself once answered. Whatever follows the
// answer goes in a slot connected to the box's finished(), which must check again that what
// it asked about still holds. Header-only like WindowFit, so that only the windows'
// libraries need Qt Widgets.
class OpenBox
{
public:
    static QMessageBox *show(QMessageBox::Icon icon, const QString &title, const QString &text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok)
    {
        auto *box = new QMessageBox(icon, title, text, buttons);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return box;
    }

    static QMessageBox *warning(const QString &title, const QString &text)
    {
        return show(QMessageBox::Warning, title, text);
    }
};

#endif // OPENBOX_H
