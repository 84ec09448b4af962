#include "plant/plantstatus.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutexLocker>

PlantStatusBoard *PlantStatusBoard::instance()
{
    static PlantStatusBoard *board = [] {
        qRegisterMetaType<PlantStatus>();
        auto *made = new PlantStatusBoard;
        if (QCoreApplication::instance())
            made->moveToThread(QCoreApplication::instance()->thread());
        return made;
    }();
    return board;
}

PlantStatus PlantStatusBoard::current() const
{
    QMutexLocker lock(&m_mutex);
    return m_status;
}

void PlantStatusBoard::publish(const PlantStatus &status)
{
    {
        QMutexLocker lock(&m_mutex);
        m_status = status;
    }
    QMetaObject::invokeMethod(
        this, [this] { emit changed(); }, Qt::AutoConnection);
}
