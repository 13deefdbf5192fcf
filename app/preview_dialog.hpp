#pragma once

#include <QDialog>
#include <QMetaType>
#include <QString>

#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace tolvane {

class PlanModel;
class Progress;

// What a run of a plan would change, one line a change, as the preview lists it.
struct PreviewList {
    struct Change {
        QString path;   // from the site root
        QString change; // what a run does to it
    };
    QString site;   // the site folder's name
    QString counts; // what a run would do, in numbers
    std::vector<Change> changes;
};

// Lists every change a run of model's plan would make: each reference of each file rewritten,
// before and after (the files are read again), then each copy's fate. Counted in progress;
// null when progress is cancelled meanwhile. Works off the window's thread.
std::shared_ptr<const PreviewList> listChanges(const PlanModel& model, Progress* progress);

// What a run would do, one line per file: the files it rewrites, the copies it removes and the
// files it keeps. A filter box narrows the list; Save as Text writes the lines shown.
class PreviewDialog : public QDialog {
    Q_OBJECT

  public:
    PreviewDialog(const PreviewList& list, QWidget* parent = nullptr);

    QLineEdit* filterBox() const { return filter_; }
    QTableView* changesTable() const { return table_; }
    QPushButton* saveButton() const { return save_; }
    // The lines shown, as Save as Text writes them: path, a tab, the change.
    QString text() const;
    // Writes text() to path; false with why in error when it cannot.
    bool saveTo(const QString& path, QString* error) const;

  private:
    void askWhereToSave();

    QStandardItemModel* model_ = nullptr;
    QSortFilterProxyModel* filtered_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QTableView* table_ = nullptr;
    QPushButton* save_ = nullptr;
};

} // namespace tolvane

Q_DECLARE_METATYPE(std::shared_ptr<const tolvane::PreviewList>)
