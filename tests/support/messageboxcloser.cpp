#include "tests/support/messageboxcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

MessageBoxCloser::MessageBoxCloser()
{
    connect(&timer, &QTimer::timeout, this, &MessageBoxCloser::closeOpenBoxes);
    timer.start(10);
}

void MessageBoxCloser::closeOpenBoxes()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        seen << box->windowTitle() + "|" + box->text();
        if (QAbstractButton *chosen = box->button(QMessageBox::StandardButton(answer)))
            chosen->click();
        else if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }
}
