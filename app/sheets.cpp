#include "app/sheets.hpp"

#include "app/path_text.hpp"

#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "0"
#endif
#ifndef TOLVANE_LICENSE
#define TOLVANE_LICENSE "LicenseRef-proprietary"
#endif

namespace tolvane {

QMessageBox* makeSheet(QWidget* window, const QString& text, const QString& informativeText) {
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tolvane"), text,
                                  QMessageBox::NoButton, window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setInformativeText(informativeText);
    if (auto* label = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    // The spacer keeps the texts from wrapping into a narrow column.
    if (auto* grid = qobject_cast<QGridLayout*>(alert->layout()))
        grid->addItem(new QSpacerItem(480, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return alert;
}

QMessageBox* makeQuestion(QWidget* window, const QString& text, const QString& informativeText,
                          const QString& yes, const QString& no, QPushButton** yesButton) {
    QMessageBox* alert = makeSheet(window, text, informativeText);
    *yesButton = alert->addButton(yes, QMessageBox::AcceptRole);
    QPushButton* noButton = alert->addButton(no, QMessageBox::RejectRole);
    alert->setDefaultButton(noButton);
    alert->setEscapeButton(noButton);
    return alert;
}

QMessageBox* makeConfirmation(QWidget* window, const QString& site, std::size_t copies,
                              std::size_t files, std::uint64_t bytes, QPushButton** optimize) {
    QMessageBox* alert = makeQuestion(
        window, Sheets::tr("Optimize %1?").arg(site),
        Sheets::tr("%1 will be removed, %2 rewritten, %3 saved. Files within your website are "
                   "overwritten; Undo Last Optimization can put them back.")
            .arg(counted(copies, Sheets::tr("1 copy"), Sheets::tr("%L1 copies")),
                 counted(files, Sheets::tr("1 file"), Sheets::tr("%L1 files")), sizeText(bytes)),
        Sheets::tr("&Optimize"), Sheets::tr("&Cancel"), optimize);
    alert->setObjectName("confirmationSheet");
    return alert;
}

QMessageBox* makeUndoQuestion(QWidget* window, const QString& time, QPushButton** undo) {
    return makeQuestion(
        window, Sheets::tr("Undo the last optimization?"),
        Sheets::tr("WARNING. You are about to overwrite files within your website: it is put "
                   "back as it was before the optimization of %1. Files changed since then are "
                   "left as they are.")
            .arg(time),
        Sheets::tr("&Undo"), Sheets::tr("&Cancel"), undo);
}

QMessageBox* makeCloseQuestion(QWidget* window, bool undoing, QPushButton** stop) {
    QMessageBox* alert =
        undoing ? makeQuestion(window, Sheets::tr("The undo is still in progress."),
                               Sheets::tr("Tolvane can close when it has finished."),
                               Sheets::tr("&Close When Finished"), Sheets::tr("&Keep Open"), stop)
                : makeQuestion(window, Sheets::tr("The optimization is still in progress."),
                               Sheets::tr("Cancel it? It stops at its next safe point and puts "
                                          "back what it has changed, then Tolvane closes."),
                               Sheets::tr("&Stop and Close"), Sheets::tr("&Keep Running"), stop);
    alert->setObjectName("closeSheet");
    return alert;
}

void showAboutSheet(QWidget* window) {
    const QString version = QStringLiteral(TOLVANE_VERSION);
    const QString spdx = QStringLiteral(TOLVANE_LICENSE);
    // The package's licence as a person names it; an SPDX identifier of its own is not a name.
    const bool own =
        spdx.compare(QLatin1String("LicenseRef-proprietary"), Qt::CaseInsensitive) == 0;
    const QString licence = own ? Sheets::tr("Proprietary") : spdx;
    auto* about = new QMessageBox(QMessageBox::Information, Sheets::tr("About Tolvane"),
                                  Sheets::tr("Tolvane %1").arg(version), QMessageBox::Ok, window);
    about->setObjectName("aboutSheet");
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::WindowModal);
    about->setInformativeText(
        Sheets::tr("Finds the images an exported website holds more than once, keeps one copy of "
                   "each and rewrites the pages that showed the others.\n\nLicence: %1")
            .arg(licence));
    about->open();
}

QMessageBox* Sheets::show(const QString& text, const QString& informativeText) {
    QMessageBox* alert = makeSheet(window_, text, informativeText);
    alert->addButton(tr("OK"), QMessageBox::AcceptRole);
    queue(alert);
    return alert;
}

void Sheets::queue(QMessageBox* sheet, bool front) {
    if (front_ && front_->isVisible() && front_ != sheet) {
        QPointer<QMessageBox> waiting = sheet;
        connect(front_, &QObject::destroyed, this, [waiting] {
            if (waiting)
                waiting->open();
        });
    } else {
        sheet->open();
    }
    if (front)
        front_ = sheet;
}

} // namespace tolvane
