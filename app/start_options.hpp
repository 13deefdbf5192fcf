#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace tolvane {

// The window program's command line: --help, --version, and an optional website folder that is
// opened at start (a file manager's "Open with" passes it; --open DIR does the same). Its
// texts stay English: the manual page is made from them.
class StartOptions {
  public:
    StartOptions();

    QCommandLineParser& parser() { return parser_; }
    // The folder to open at start, empty for none: the one named as argument, else --open's.
    QString folder() const;
    // What is wrong with the parsed arguments beyond what the parser checks, empty when nothing.
    QString usageError() const;
    // --verbose: the log's lines are written to standard output as well.
    bool verbose() const { return parser_.isSet(verbose_); }

    // Whether arguments (the program's name first) ask for the help or the version text, which
    // is printed without a window and so needs no display.
    static bool asksForTextOnly(const QStringList& arguments);

  private:
    QCommandLineParser parser_;
    QCommandLineOption open_;
    QCommandLineOption verbose_;
};

} // namespace tolvane
