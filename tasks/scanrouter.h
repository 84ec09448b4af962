#ifndef SCANROUTER_H
#define SCANROUTER_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QKeyEvent;
class QLineEdit;
class QWidget;

// Brings a label scanner's keys to the scan field. A scanner types its code as a burst of
// keys ended by Enter or Tab. In the field, Enter or Tab ends the code (and Tab does not move
// the focus). A burst of 3 or more printable keys at most 50 ms apart that lands on another
// widget of the watched windows is held back and goes to the field instead; keys that turn
// out not to be a burst reach their widget as typed, once the pause shows it.
class ScanRouter : public QObject
{
    Q_OBJECT

public:
    static constexpr int burstGapMs = 50;
    static constexpr int burstLength = 3;

    ScanRouter(QWidget *window, QLineEdit *field);
    ~ScanRouter() override;

    // Another window whose keys count as the task window's (a chooser it opened).
    void watch(QWidget *window);

signals:
    // A code ended in the field or by a burst elsewhere: the field is cleared.
    void codeEntered(const QString &code);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct HeldKey
    {
        QPointer<QObject> target;
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
    };

    bool watches(QObject *receiver) const;
    bool fieldKey(const QKeyEvent *key);
    bool otherKey(QObject *receiver, const QKeyEvent *key);
    void endCode(const QString &code);
    void release();

    QPointer<QWidget> m_window;
    QPointer<QLineEdit> m_field;
    QList<QPointer<QWidget>> m_watched;
    QList<HeldKey> m_held;
    QElapsedTimer m_sinceLast;
    QTimer m_pause;
    bool m_replaying = false;
};

#endif // SCANROUTER_H
