#include "app/main_window.hpp"
#include "app/tolvane_app_delegate.hpp"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tolvane");
    QApplication::setApplicationDisplayName("Tolvane");
    QApplication::setApplicationVersion(TOLVANE_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Finds duplicate images in an exported website and keeps one copy of each.");
    parser.addHelpOption();
    parser.addVersionOption();
    // Opens a folder at start as if it had been chosen; used to automate screenshots.
    QCommandLineOption open("open", "Open the website folder DIR at start.", "DIR");
    open.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(open);
    parser.process(application);

    tolvane::TolvaneAppDelegate controller;
    controller.applicationDidFinishLaunching();
    controller.window()->show();
    if (parser.isSet(open)) {
        const QString folder = parser.value(open);
        QTimer::singleShot(0, &controller, [&controller, folder] { controller.openFolder(folder); });
    }
    return QApplication::exec();
}
