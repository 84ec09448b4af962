#include "app/dialog.h"
#include "app/display.h"
#include "core/windowfit.h"
#include "history/historystore.h"
#include "settings/setup.h"
#include "tasks/historymodel.h"
#include "tasks/historywindow.h"
#include "tasks/information.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

#include <memory>

// Every text of the three forms must show whole at the screen's font DPI (run once at 96
// and once at 144 DPI): the text's extent in the widget's font against the room the widget
// leaves for it.
class tst_TextFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void textsFit_data();
    void textsFit();
    void taskWindowFitsSmallScreen();
    void historyColumnsFitTheirCells();

private:
    static std::unique_ptr<QWidget> makeForm(const QString &form);
    static void fitInto(QWidget *window, const QRect &room);
    static QStringList cutTexts(QWidget *form);
    static QString labelCut(QLabel *label);
    static QString buttonCut(QAbstractButton *button);
    static QStringList headerCuts(QTableWidget *table);
};

void tst_TextFit::initTestCase()
{
    Q_INIT_RESOURCE(resources);
    Display::substituteFormFont();
    qInfo() << "font DPI" << QGuiApplication::primaryScreen()->logicalDotsPerInchY() << "platform"
            << QGuiApplication::platformName() << "style" << QApplication::style()->objectName();
}

std::unique_ptr<QWidget> tst_TextFit::makeForm(const QString &form)
{
    if (form == QLatin1String("sign-in"))
        return std::make_unique<Dialog>();
    if (form == QLatin1String("tasks"))
        return std::make_unique<Information>();
    return std::make_unique<setup>();
}

void tst_TextFit::fitInto(QWidget *window, const QRect &room)
{
    if (auto *dialog = qobject_cast<Dialog *>(window))
        dialog->fitInto(room);
    else
        WindowFit::fitInto(window, room);
}

// The available geometry of a 1024 x 768 panel at 100 % and of a 1366 x 768 one at 125 %,
// in logical pixels, less a task bar; the offscreen screen itself is 800 x 600.
void tst_TextFit::textsFit_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QRect>("room");
    const QList<QPair<const char *, QRect>> rooms { { "its screen", QRect() },
        { "1024x768 at 100 %", QRect(0, 0, 1024, 728) }, { "1366x768 at 125 %", QRect(0, 0, 1093, 582) } };
    for (const char *form : { "sign-in", "tasks", "settings" }) {
        for (const auto &room : rooms)
            QTest::addRow("%s on %s", form, room.first) << QString::fromLatin1(form) << room.second;
    }
}

// A window fits its room unless its texts need more.
void tst_TextFit::textsFit()
{
    QFETCH(QString, form);
    QFETCH(QRect, room);
    const std::unique_ptr<QWidget> window = makeForm(form);
    if (room.isValid())
        fitInto(window.get(), room);
    else
        room = window->screen()->availableGeometry();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize needed = window->minimumSizeHint();
    if (needed.width() <= room.width() && needed.height() <= room.height())
        QVERIFY2(window->width() <= room.width() && window->height() <= room.height(),
            qPrintable(QStringLiteral("%1x%2").arg(window->width()).arg(window->height())));

    const QStringList cut = cutTexts(window.get());
    QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 cut: %2").arg(cut.size()).arg(cut.join("; "))));
}

QStringList tst_TextFit::cutTexts(QWidget *form)
{
    QStringList cut;
    for (QWidget *widget : form->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(form))
            continue;
        QString problem;
        if (auto *label = qobject_cast<QLabel *>(widget))
            problem = labelCut(label);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            problem = buttonCut(button);
        else if (auto *table = qobject_cast<QTableWidget *>(widget))
            cut << headerCuts(table);
        if (!problem.isEmpty())
            cut << problem;
    }
    return cut;
}

static QString describe(const QString &name, const QString &text, QSize need, QSize room)
{
    if (need.width() <= room.width() && need.height() <= room.height())
        return QString();
    return QStringLiteral("%1 \"%2\" needs %3x%4, has %5x%6")
        .arg(name, text)
        .arg(need.width())
        .arg(need.height())
        .arg(room.width())
        .arg(room.height());
}

QString tst_TextFit::labelCut(QLabel *label)
{
    const QString text = label->text();
    if (text.isEmpty())
        return QString();
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    QSize need;
    if (Qt::mightBeRichText(text)) {
        // Laid out as the label lays out its rich text: no margin around the document.
        QTextDocument document;
        document.setDefaultFont(label->font());
        document.setDocumentMargin(0);
        document.setHtml(text);
        need = QSize(qCeil(document.idealWidth()),
            qMax(qCeil(document.size().height()),
                WindowFit::textHeight(label->font(), document.toPlainText())));
    } else {
        need = QSize(
            QFontMetrics(label->font()).horizontalAdvance(text), WindowFit::textHeight(label->font(), text));
    }
    return describe(label->objectName(), text, need, room.size());
}

QString tst_TextFit::buttonCut(QAbstractButton *button)
{
    const QString text = button->text();
    if (text.isEmpty())
        return QString();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    QStyle *style = button->style();
    // The text's bounding box can be lower than the line of the font that draws it.
    const QFontMetrics metrics(button->font());
    const QSize textSize = metrics.size(Qt::TextShowMnemonic, text)
                               .expandedTo(QSize(0, WindowFit::textHeight(button->font(), text)));
    if (auto *push = qobject_cast<QPushButton *>(button)) {
        // A push button's bevel around the text is the style's to size.
        if (push->autoDefault() || push->isDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        return describe(button->objectName(), text,
            style->sizeFromContents(QStyle::CT_PushButton, &option, textSize, button), button->size());
    }
    const QStyle::SubElement contents
        = qobject_cast<QRadioButton *>(button) ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents;
    return describe(
        button->objectName(), text, textSize, style->subElementRect(contents, &option, button).size());
}

QStringList tst_TextFit::headerCuts(QTableWidget *table)
{
    QStringList cut;
    QHeaderView *header = table->horizontalHeader();
    const QFontMetrics metrics(header->font());
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int column = 0; column < table->columnCount(); ++column) {
        const QString text = table->horizontalHeaderItem(column)->text();
        const QSize need(metrics.horizontalAdvance(text) + 2 * margin, metrics.height());
        const QSize room(header->sectionSize(column), header->height());
        const QString problem
            = describe(QStringLiteral("%1 column %2").arg(table->objectName()).arg(column), text, need, room);
        if (!problem.isEmpty())
            cut << problem;
    }
    return cut;
}

// Panel PCs have 1024 x 768 screens at 100 %. The task window fits with room for one more
// button in its row and for a task bar below.
void tst_TextFit::taskWindowFitsSmallScreen()
{
    if (qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY()) != 96)
        QSKIP("the screen size is set at 100 %");
    Information window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPushButton spare(QStringLiteral("记录"));
    spare.setFont(window.font());
    const int spareWidth = spare.sizeHint().width() + window.layout()->spacing();
    QVERIFY2(window.minimumSizeHint().width() + spareWidth <= 1024,
        qPrintable(QString::number(window.minimumSizeHint().width())));
    QVERIFY2(window.width() <= 1024 && window.height() <= 768 - 48,
        qPrintable(QStringLiteral("%1x%2").arg(window.width()).arg(window.height())));
}

// Every shown column is as wide as its header and its cells; SHA-256 no wider than its 16 digits.
void tst_TextFit::historyColumnsFitTheirCells()
{
    QTemporaryDir dir;
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = HistoryEntry::fetchAction;
    entry.task = "2026-1208-0042";
    entry.kind = "nc";
    entry.bytes = 123456789;
    entry.sha256 = QString(64, QLatin1Char('a'));
    entry.outcome = "Fetched / Saved / UnsafeEntry";
    QVERIFY(HistoryStore(dir.path()).add(entry));
    HistoryWindow window(dir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *table = window.findChild<QTableView *>("table");
    QHeaderView *header = table->horizontalHeader();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int column = HistoryModel::TimeColumn; column <= HistoryModel::ShaColumn; ++column) {
        const QModelIndex cell = window.model()->index(0, column);
        const int text = qMax(table->fontMetrics().horizontalAdvance(cell.data().toString()),
            header->fontMetrics().horizontalAdvance(
                window.model()->headerData(column, Qt::Horizontal).toString()));
        QVERIFY2(header->sectionSize(column) >= text + margin,
            qPrintable(
                QStringLiteral("column %1: %2 < %3").arg(column).arg(header->sectionSize(column)).arg(text)));
    }
    QCOMPARE(
        window.model()->index(0, HistoryModel::ShaColumn).data().toString(), QString(16, QLatin1Char('a')));
    QCOMPARE(
        window.model()->index(0, HistoryModel::ShaColumn).data(Qt::ToolTipRole).toString(), entry.sha256);
}

QTEST_MAIN(tst_TextFit)
#include "tst_textfit.moc"
