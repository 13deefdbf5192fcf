#pragma once

#include <functional>

#include <QPlainTextEdit>
#include <QString>

namespace tolvane {

// The action log pane: one section per scan, run or undo, each under a heading, and the lines
// of the section below it. It stays at the last line as lines arrive, unless the user scrolled
// up to read; scrolling back to the end follows again.
class LogView : public QPlainTextEdit {
    Q_OBJECT

  public:
    explicit LogView(QWidget* parent = nullptr);

    // Starts a section: a blank line after the previous one, then the heading.
    void beginSection(const QString& heading);
    // Adds line; with echo on, standard output gets it too (--verbose).
    void appendLine(const QString& line);
    void setEcho(bool echo) { echo_ = echo; }
    // raw as the log shows it: one line, whatever control characters a file name holds; the
    // two paths after "Moving image file" labelled as its source and destination.
    QString labelled(const QString& raw);
    // Empties the pane; the next section starts at the top.
    void clearLog();
    // Writes the pane's text to path (UTF-8, one line each); false with why on failure.
    bool saveTo(const QString& path, QString* error = nullptr) const;

    // Save Log...: asks where, starting in the folder saved to last, then calls save with the
    // path chosen.
    void askWhereToSave(const std::function<void(const QString& path)>& save);
    // The pane shows its last line (or the user has not scrolled away from it).
    bool followsEnd() const { return follows_; }

  private:
    void append(const QString& text);
    bool follows_ = true;
    int pathLinesToLabel_ = 0;
    bool appending_ = false;
    bool echo_ = false;
};

} // namespace tolvane
