#include "app/site_chooser.hpp"

#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/sheets.hpp"
#include "scan/scan.hpp"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <exception>

namespace tolvane {

void SiteChooser::chooseFile(PanelEnd didEnd, const QString& title, const QString& message,
                             const QString& initialValue) {
    try {
        auto* openPanel = new QFileDialog(&window_);
        panel_ = openPanel;
        openPanel->setAttribute(Qt::WA_DeleteOnClose);
        openPanel->setOption(QFileDialog::DontUseNativeDialog);
        openPanel->setFileMode(QFileDialog::Directory);
        openPanel->setOption(QFileDialog::ShowDirsOnly);
        openPanel->setWindowTitle(message);
        openPanel->setLabelText(QFileDialog::FileName, title);
        openPanel->setLabelText(QFileDialog::Accept, tr("&Open"));
        openPanel->setDirectory(initialValue);
        openPanel->setWindowModality(Qt::WindowModal);
        connect(openPanel, &QFileDialog::finished, this,
                [this, openPanel, didEnd](int result) { (this->*didEnd)(openPanel, result); });
        openPanel->open();
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "Exception trying to display openPanel: %s\n", exception.what());
    }
}

void SiteChooser::folderSelected(QFileDialog* panel, int returnCode) {
    if (returnCode != 1)
        return;
    panel->hide();
    if (const QStringList chosen = panel->selectedFiles(); !chosen.isEmpty())
        openFolder(chosen.constFirst());
}

void SiteChooser::openWebsite() {
    QString start = openSettings()->value("lastFolder").toString();
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QDir::homePath();
    chooseFile(&SiteChooser::folderSelected, tr("Choose folder:"),
               tr("Choose folder containing root of website."), start);
}

void SiteChooser::openFolder(const QString& folder) {
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const std::filesystem::path candidate = toPath(absolute);
    if (isWebsiteFolder(candidate)) {
        openSettings()->setValue("lastFolder", absolute);
        emit chosen(candidate);
        return;
    }
    // A folder just above the site is a common slip: offer the child that is a website, the
    // first by name.
    QStringList children = QDir(absolute).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    children.sort(Qt::CaseInsensitive);
    for (const QString& child : children)
        if (isWebsiteFolder(candidate / toPath(child)))
            return offerChildSite(absolute, candidate / toPath(child));
    sheets_.show(
        tr("“%1” is not a website folder.").arg(absolute),
        tr("A website's root folder holds index.html. Choose the folder of the site itself."));
}

void SiteChooser::offerChildSite(const QString& folder, const std::filesystem::path& child) {
    const QString name = toQString(child.filename());
    QPushButton* open = nullptr;
    QMessageBox* alert = makeQuestion(
        &window_, tr("“%1” is not a website folder.").arg(folder),
        tr("A website's root folder holds index.html. Its folder “%1” does: open that one?")
            .arg(name),
        tr("&Open “%1”").arg(name), tr("&Cancel"), &open);
    connect(alert, &QMessageBox::buttonClicked, this, [this, open, child](QAbstractButton* button) {
        if (button == open)
            QTimer::singleShot(0, this, [this, child] { openFolder(toQString(child)); });
    });
    sheets_.queue(alert);
}

} // namespace tolvane
