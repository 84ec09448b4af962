#include "tasks/scanrouter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace {

bool endsCode(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab;
}

bool isPrintable(const QKeyEvent *key)
{
    const QString text = key->text();
    return text.size() == 1 && text.at(0).isPrint()
        && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

} // namespace

ScanRouter::ScanRouter(QWidget *window, QLineEdit *field)
    : QObject(window)
    , m_window(window)
    , m_field(field)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(burstGapMs);
    connect(&m_pause, &QTimer::timeout, this, &ScanRouter::release);
    qApp->installEventFilter(this);
}

ScanRouter::~ScanRouter()
{
    qApp->removeEventFilter(this);
}

void ScanRouter::watch(QWidget *window)
{
    m_watched << window;
}

bool ScanRouter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || m_replaying || !watches(watched))
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (watched == m_field)
        return fieldKey(key);
    return otherKey(watched, key);
}

// Keys go to the focus widget first, so only widgets of the watched windows count.
bool ScanRouter::watches(QObject *receiver) const
{
    if (!receiver->isWidgetType() || !m_window)
        return false;
    QWidget *window = static_cast<QWidget *>(receiver)->window();
    if (window == m_window)
        return true;
    for (const QPointer<QWidget> &other : m_watched) {
        if (other && window == other)
            return true;
    }
    return false;
}

bool ScanRouter::fieldKey(const QKeyEvent *key)
{
    if (!endsCode(key->key()))
        return false;
    const QString code = m_field->text();
    m_field->clear();
    endCode(code);
    return true;
}

// Printable keys are held while they might be a burst; Enter or Tab after a burst ends it
// as a code, anything else lets the held keys go to where they were typed.
bool ScanRouter::otherKey(QObject *receiver, const QKeyEvent *key)
{
    const bool quick = m_sinceLast.isValid() && m_sinceLast.elapsed() <= burstGapMs;
    if (isPrintable(key)) {
        if (!quick)
            release();
        m_held << HeldKey { receiver, key->key(), key->modifiers(), key->text() };
        m_sinceLast.start();
        m_pause.start();
        return true;
    }
    if (endsCode(key->key()) && quick && m_held.size() >= burstLength) {
        QString code;
        for (const HeldKey &held : qAsConst(m_held))
            code += held.text;
        m_held.clear();
        m_pause.stop();
        m_sinceLast.invalidate();
        endCode(code);
        return true;
    }
    release();
    return false;
}

void ScanRouter::endCode(const QString &code)
{
    if (m_field)
        m_field->setFocus();
    emit codeEntered(code);
}

void ScanRouter::release()
{
    m_pause.stop();
    const QList<HeldKey> held = m_held;
    m_held.clear();
    m_replaying = true;
    for (const HeldKey &key : held) {
        if (!key.target)
            continue;
        QKeyEvent press(QEvent::KeyPress, key.key, key.modifiers, key.text);
        QCoreApplication::sendEvent(key.target, &press);
        QKeyEvent releaseEvent(QEvent::KeyRelease, key.key, key.modifiers, key.text);
        QCoreApplication::sendEvent(key.target, &releaseEvent);
    }
    m_replaying = false;
}
