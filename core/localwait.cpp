#include "core/localwait.h"

#include <QCoreApplication>

LocalWait::LocalWait(int deadlineMs)
{
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(qMax(0, deadlineMs));
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(Ended::PastDeadline); });
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { finish(Ended::Interrupted); });
}

LocalWait::Ended LocalWait::exec()
{
    if (!m_ended) {
        if (m_deadline.interval() > 0)
            m_deadline.start();
        m_loop.exec(QEventLoop::AllEvents);
    }
    // Quitting the application ends every event loop of its thread, this one included.
    finish(Ended::Interrupted);
    return m_how;
}

void LocalWait::end()
{
    finish(Ended::Signalled);
}

void LocalWait::finish(Ended how)
{
    if (m_ended)
        return;
    m_ended = true;
    m_how = how;
    m_deadline.stop();
    m_loop.quit();
    if (how == Ended::PastDeadline)
        emit deadlinePassed();
}
