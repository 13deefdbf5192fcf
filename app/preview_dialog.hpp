#pragma once

#include <QDialog>
#include <QString>

#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace tolvane {

class PlanModel;

// What a run would do, one line per file: the files it rewrites, the copies it removes and the
// files it keeps. A filter box narrows the list; Save as Text writes the lines shown.
class PreviewDialog : public QDialog {
    Q_OBJECT

  public:
    struct Change {
        QString path;   // from the site root
        QString change; // what a run does to it
    };

    // summary: the counts above the list.
    PreviewDialog(const QString& summary, const std::vector<Change>& changes,
                  QWidget* parent = nullptr);

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

// Opens the preview of what a run of model's plan would do, in a window of its own: each
// rewritten file's references, before and after, and each copy's fate. Returns its counts.
QString showPreview(QWidget* window, const PlanModel& model);

} // namespace tolvane
