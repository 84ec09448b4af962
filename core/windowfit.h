#ifndef WINDOWFIT_H
#define WINDOWFIT_H

#include <QCheckBox>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QLabel>
#include <QLayout>
#include <QRawFont>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <QWidget>
#include <QWindow>

#include <functional>

// How a window opens on a small panel: within the available geometry of its screen (the
// desktop less the task bar and the window's frame), at the size it was drawn at where there
// is room, smaller where there is not, but never below what its layout needs to show every
// text whole. A form whose layout needs more than the room may give some of it back
// (spacing, a title) through giveWay, called until it returns false. Header-only like
// BusyCall, so that only the windows' libraries, which include it, need Qt Widgets.
class WindowFit
{
public:
    using GiveWay = std::function<bool()>;

    // The size for a window that wants wanted and needs at least minimum, in room.
    static QSize fittedSize(const QSize &wanted, const QSize &minimum, const QSize &room)
    {
        return wanted.boundedTo(room).expandedTo(minimum);
    }

    // Fits the top-level window into its screen's available geometry.
    static void fit(QWidget *window, const GiveWay &giveWay = GiveWay())
    {
        fitInto(window, window->screen()->availableGeometry(), giveWay);
    }

    static void fitInto(QWidget *window, const QRect &available, const GiveWay &giveWay = GiveWay())
    {
        window->ensurePolished();
        holdTextHeights(window);
        if (!window->testAttribute(Qt::WA_Resized))
            window->adjustSize();
        const QSize room = available.size() - frameSize(window);
        while (!fitsIn(window->minimumSizeHint(), room) && giveWay && giveWay()) {
            if (window->layout())
                window->layout()->invalidate();
        }
        window->resize(fittedSize(window->size(), window->minimumSizeHint(), room));
    }

    // The line height text needs in font: that of the font that draws it. Where font has no
    // glyphs for the text (Chinese in a Latin font), a fallback font draws it, whose line can
    // be far lower or higher than font's own.
    static int textHeight(const QFont &font, const QString &text)
    {
        QTextLayout layout(text, font);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
            line.setLineWidth(unboundedWidth);
        layout.endLayout();
        int height = 0;
        for (const QGlyphRun &run : layout.glyphRuns()) {
            const QRawFont drawn = run.rawFont();
            height = qMax(height, qRound(drawn.ascent() + drawn.descent()));
        }
        return height > 0 ? height : QFontMetrics(font).height();
    }

private:
    static constexpr qreal unboundedWidth = 1e6;

    static bool fitsIn(const QSize &size, const QSize &room)
    {
        return size.width() <= room.width() && size.height() <= room.height();
    }

    // The frame the window system adds around the window; before it has one, the style's
    // title bar stands in.
    static QSize frameSize(const QWidget *window)
    {
        const QWindow *handle = window->windowHandle();
        if (!handle)
            return QSize(0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window));
        const QMargins frame = handle->frameMargins();
        return QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    }

    // A label or check box sizes itself by its text's bounding box, which in some fonts is a
    // pixel or two lower than the line of the font that draws it: the glyphs' bottoms would
    // be cut.
    static void holdTextHeights(QWidget *window)
    {
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            QString text;
            if (auto *label = qobject_cast<QLabel *>(widget); label && !label->wordWrap())
                text = label->text();
            else if (auto *box = qobject_cast<QCheckBox *>(widget))
                text = box->text();
            if (text.isEmpty())
                continue;
            const QMargins margins = widget->contentsMargins();
            const int needed = textHeight(widget->font(), text) + margins.top() + margins.bottom();
            // A minimum height set replaces the one the widget's own hint gives.
            if (needed > widget->minimumSizeHint().height())
                widget->setMinimumHeight(qMax(widget->minimumHeight(), needed));
        }
    }
};

#endif // WINDOWFIT_H
