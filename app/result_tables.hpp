#pragma once

#include <QObject>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <vector>

namespace tolvane {

class MainWindow;
class NSURLTableViewDataSource;
class NaturalSortProxy;
class PlanModel;
class Sheets;

// The two tables (the duplicate images, the copies of the selected one) with the copy's
// details and preview, showing what the plan model says, and the choices made on them: the
// check boxes, the Select menu and Keep This Copy change the model's choices and say so
// (choicesChanged); the copies' context menu opens and copies the selected paths.
class ResultTables : public QObject {
    Q_OBJECT

  public:
    // busy: whether work in progress forbids changing a choice.
    ResultTables(MainWindow& window, PlanModel& model, Sheets& sheets, std::function<bool()> busy,
                 QObject* parent = nullptr);

    // Both tables show the model's result, sorted as the user last chose; the first group in
    // that order is selected. The models behind them are made once and refilled after.
    void showResult();
    // The plan changed: every cell and the copy's details follow.
    void refresh();
    // The copies table shows the group selected in the groups table.
    void selectImage();
    int shownGroup() const { return pagesGroup_; }
    // The copies table's current copy and selected copies, as indexes into the group.
    int currentCopy() const;
    std::vector<std::size_t> selectedCopies() const;
    QStringList pathsOfSelectedCopies() const;
    // The Select menu and the copies' menu as the selection allows; choices only when idle.
    void updateActions(bool idle);

  signals:
    void choicesChanged();
    // The current or selected copies changed.
    void copiesSelected();

  private:
    void connectMenus();
    // Select > Only Groups That Save More Than...: asks for a size.
    void askForLeastSaving();
    void choose(const std::function<bool(std::size_t group)>& chosen);
    int selectedRow() const;
    void showCopy();
    void presentImages();
    void presentCopies();

    MainWindow& window_;
    PlanModel& model_;
    Sheets& sheets_;
    std::function<bool()> busy_;
    NSURLTableViewDataSource* imagesDataSource_ = nullptr;
    NSURLTableViewDataSource* pagesDataSource_ = nullptr;
    NaturalSortProxy* imagesSorter_ = nullptr;
    NaturalSortProxy* pagesSorter_ = nullptr;
    int pagesGroup_ = -1; // the group the copies table shows
    bool displaying_ = false;
};

} // namespace tolvane
