#include "tasks/nccomparewindow.h"

#include "core/windowfit.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

const char *const removedColour = "#ffd7d7";
const char *const addedColour = "#d4f5d4";
const char *const hunkColour = "#e4e8f0";

QString number(int value)
{
    return (value > 0 ? QString::number(value) : QString()).rightJustified(6);
}

QString lineHtml(const NcCompare::Line &line)
{
    const bool removed = line.kind == NcCompare::LineKind::Removed;
    const bool added = line.kind == NcCompare::LineKind::Added;
    const QString text = number(line.oldNumber) + number(line.newNumber) + QStringLiteral("  ")
        + (removed      ? QLatin1Char('-')
                : added ? QLatin1Char('+')
                        : QLatin1Char(' '))
        + QLatin1Char(' ') + line.text;
    if (!removed && !added)
        return text.toHtmlEscaped();
    return QStringLiteral("<span style=\"background-color:%1\">%2</span>")
        .arg(QLatin1String(removed ? removedColour : addedColour), text.toHtmlEscaped());
}

} // namespace

NcCompareWindow::NcCompareWindow(
    const NcCompare::Result &result, const QString &older, const QString &newer, QWidget *parent)
    : QDialog(parent)
    , m_result(result)
    , m_summary(new QLabel(this))
    , m_files(new QListWidget(this))
    , m_lines(new QTextBrowser(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("比较"));
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->setText(tr("旧版本：%1\n新版本：%2\n%3").arg(older, newer, summary())
        + (m_result.originalsMissing ? tr("\n下载时的原文件已不在本机（压缩包已不是当时下载的，也没有保留的旧"
                                          "版本含有它们），只列出文件名")
                                     : QString()));
    m_lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_lines->setLineWrapMode(QTextEdit::NoWrap);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_files);
    splitter->addWidget(m_lines);
    splitter->setStretchFactor(1, 3);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(splitter, 1);
    layout->addWidget(buttons);

    for (const NcCompare::FileDiff &file : qAsConst(m_result.files))
        m_files->addItem(fileText(file));
    connect(m_files, &QListWidget::currentRowChanged, this, &NcCompareWindow::showFile);
    m_files->setCurrentRow(m_result.files.isEmpty() ? -1 : 0);
    WindowFit::fit(this);
}

QString NcCompareWindow::summary() const
{
    // Files whose bytes differ are never called the same, however alike they read.
    if (m_result.same() && m_result.files.isEmpty())
        return tr("两个版本相同");
    if (m_result.same())
        return tr("%1 个文件的内容不同，但只是写法不同（程序段号、注释、空格、大小写和数字写法）")
            .arg(m_result.files.size());
    int differing = 0;
    for (const NcCompare::FileDiff &file : m_result.files)
        differing += file.status == NcCompare::Status::Equivalent ? 0 : 1;
    if (m_result.originalsMissing)
        return tr("%1 个文件在下载后被改动").arg(differing);
    return tr("%1 个文件不同，共 %2 处改动").arg(differing).arg(m_result.hunkCount());
}

QString NcCompareWindow::fileText(const NcCompare::FileDiff &file)
{
    switch (file.status) {
    case NcCompare::Status::Added:
        return tr("新增  %1").arg(file.path);
    case NcCompare::Status::Removed:
        return tr("删除  %1").arg(file.path);
    case NcCompare::Status::Equivalent:
        return tr("仅写法不同  %1").arg(file.path);
    default:
        if (file.binary)
            return tr("修改  %1（二进制文件）").arg(file.path);
        return file.hunks.isEmpty() ? tr("修改  %1").arg(file.path)
                                    : tr("修改  %1（%2 处改动）").arg(file.path).arg(file.hunks.size());
    }
}

void NcCompareWindow::showFile(int row)
{
    if (row < 0 || row >= m_result.files.size()) {
        m_lines->clear();
        return;
    }
    m_lines->setHtml(linesHtml(m_result.files.at(row)));
}

// One preformatted block keeps even a long diff quick to lay out.
QString NcCompareWindow::linesHtml(const NcCompare::FileDiff &file)
{
    if (file.hunks.isEmpty())
        return fileText(file).toHtmlEscaped();
    QString html = QStringLiteral("<pre>");
    for (const NcCompare::Hunk &hunk : file.hunks) {
        html += QStringLiteral("<span style=\"background-color:%1\">@@ -%2,%3 +%4,%5 @@</span>\n")
                    .arg(QLatin1String(hunkColour))
                    .arg(hunk.oldStart)
                    .arg(hunk.oldCount)
                    .arg(hunk.newStart)
                    .arg(hunk.newCount);
        for (const NcCompare::Line &line : hunk.lines)
            html += lineHtml(line) + QLatin1Char('\n');
    }
    return html + QStringLiteral("</pre>");
}
