#include "tests/support/messageboxcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>

MessageBoxCloser::MessageBoxCloser()
{
    connect(&timer, &QTimer::timeout, this, &MessageBoxCloser::closeOpenBoxes);
    timer.start(10);
}

void MessageBoxCloser::holdFor(int ms)
{
    timer.stop();
    QTimer::singleShot(ms, this, [this] { timer.start(10); });
}

void MessageBoxCloser::closeOpenBoxes()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        seen << box->windowTitle() + "|" + box->text();
        if (pressEnter) {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(box->focusWidget() ? box->focusWidget() : box, &enter);
        } else if (QAbstractButton *chosen = box->button(QMessageBox::StandardButton(answer)))
            chosen->click();
        else if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }
}
