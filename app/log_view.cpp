#include "app/log_view.hpp"

#include "app/main_window.hpp"
#include "util/log_line.hpp"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QSaveFile>
#include <QScrollBar>
#include <QSettings>
#include <QTextBlock>
#include <cstdio>

namespace tolvane {

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTabChangesFocus(true); // Tab leaves the pane instead of being swallowed
    // Where the user scrolls decides whether new lines are followed: at the end, they are.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!appending_)
            follows_ = value >= verticalScrollBar()->maximum();
    });
}

void LogView::append(const QString& text) {
    appending_ = true;
    appendPlainText(text);
    if (follows_)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    appending_ = false;
}

void LogView::beginSection(const QString& heading) {
    if (!document()->isEmpty())
        append(QString());
    append(QStringLiteral("=== %1 ===").arg(heading));
}

void LogView::appendLine(const QString& line) {
    if (echo_) {
        const QByteArray text = line.toUtf8() + '\n';
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
        std::fflush(stdout);
    }
    append(line);
}

void LogView::clearLog() {
    clear();
    follows_ = true;
    pathLinesToLabel_ = 0;
}

bool LogView::saveTo(const QString& path, QString* error) const {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QByteArray text = toPlainText().toUtf8();
        if (!text.isEmpty())
            text += '\n';
        if (file.write(text) == text.size() && file.commit())
            return true;
    }
    if (error)
        *error = file.errorString();
    return false;
}

QString LogView::labelled(const QString& raw) {
    QString text = QString::fromStdString(printableLogLine(raw.toStdString()));
    if (pathLinesToLabel_ > 0 && !QDir::isAbsolutePath(text))
        pathLinesToLabel_ = 0;
    if (pathLinesToLabel_ > 0) {
        text = (pathLinesToLabel_ == 2 ? tr("  from: %1") : tr("  to: %1")).arg(text);
        --pathLinesToLabel_;
    } else if (text.startsWith(tr("Moving image file: "))) {
        pathLinesToLabel_ = 2;
    }
    return text;
}

void LogView::askWhereToSave(const std::function<void(const QString& path)>& save) {
    const QString start = openSettings()->value("lastLogFolder", QDir::homePath()).toString();
    auto* dialog = new QFileDialog(window(), tr("Save Log"), start,
                                   tr("Text files (*.txt *.log);;All files (*)"));
    dialog->setObjectName("saveLogDialog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->selectFile(tr("tolvane-log.txt"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::fileSelected, this, [save](const QString& path) {
        openSettings()->setValue("lastLogFolder", QFileInfo(path).absolutePath());
        save(path);
    });
    dialog->open();
}

} // namespace tolvane
