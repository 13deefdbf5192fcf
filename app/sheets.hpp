#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>

class QMessageBox;
class QPushButton;
class QWidget;

namespace tolvane {

// A warning alert attached to window, window-modal, deleted when closed.
QMessageBox* makeSheet(QWidget* window, const QString& text, const QString& informativeText);
// A question with two answers; Escape and the default are the safe one (no). yesButton is set
// to the button of the other answer.
QMessageBox* makeQuestion(QWidget* window, const QString& text, const QString& informativeText,
                          const QString& yes, const QString& no, QPushButton** yesButton);
// Optimize...: what a run of the plan does to the site named, and whether to go on; optimize
// is set to the button that says yes.
QMessageBox* makeConfirmation(QWidget* window, const QString& site, std::size_t copies,
                              std::size_t files, std::uint64_t bytes, QPushButton** optimize);
// Undo Last Optimization: whether to put the site back as before the run at time.
QMessageBox* makeUndoQuestion(QWidget* window, const QString& time, QPushButton** undo);
// Closing during a run (undoing: during an undo): whether to stop and close; stop is set to
// the button that says so.
QMessageBox* makeCloseQuestion(QWidget* window, bool undoing, QPushButton** stop);
// Help > About: the version and the licence.
void showAboutSheet(QWidget* window);

// The window's sheets, one at a time: a sheet opened while the one in front is up waits for it.
class Sheets : public QObject {
    Q_OBJECT

  public:
    explicit Sheets(QWidget* window, QObject* parent = nullptr)
        : QObject(parent), window_(window) {}

    // A warning with an OK button.
    QMessageBox* show(const QString& text, const QString& informativeText);
    // Opens sheet now, or once the sheet in front has gone; front: later ones wait for it.
    void queue(QMessageBox* sheet, bool front = false);

  private:
    QWidget* window_;
    QPointer<QMessageBox> front_;
};

} // namespace tolvane
