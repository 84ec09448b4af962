#ifndef BUSYCALL_H
#define BUSYCALL_H

#include <QGuiApplication>
#include <QPointer>
#include <QScopeGuard>

// A blocking call made from a window's slot. The call waits in a local event loop that
// still delivers clicks and closes, so the button that started it stays disabled until the
// BusyCall goes (a second click would start a second call), the pointer shows busy while
// the call runs, and windowAlive() tells whether the window outlived the wait. A template,
// so that only the windows' libraries, which instantiate it, need the GUI modules.
template <typename Window, typename Button = Window>
class BusyCall
{
public:
    explicit BusyCall(Window *window, Button *button = nullptr)
        : m_window(window)
        , m_button(button)
    {
        if (m_button)
            m_button->setEnabled(false);
    }

    ~BusyCall()
    {
        if (m_button)
            m_button->setEnabled(true);
    }

    BusyCall(const BusyCall &) = delete;
    BusyCall &operator=(const BusyCall &) = delete;

    template <typename Call>
    auto run(Call call) -> decltype(call())
    {
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        return call();
    }

    bool windowAlive() const { return !m_window.isNull(); }

private:
    QPointer<Window> m_window;
    QPointer<Button> m_button;
};

#endif // BUSYCALL_H
