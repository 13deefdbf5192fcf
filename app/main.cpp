#include "app/main_window.hpp"
#include "app/start_options.hpp"
#include "app/tolvane_app_delegate.hpp"
#include "app/translations.hpp"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName("Tolvane");
    QCoreApplication::setApplicationVersion(TOLVANE_VERSION);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The help and the version are printed without a window, so they need no display.
    std::unique_ptr<QCoreApplication> application;
    if (tolvane::StartOptions::asksForTextOnly(arguments))
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);

    tolvane::StartOptions options;
    options.parser().process(*application);
    if (const QString error = options.usageError(); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    QApplication::setApplicationDisplayName("Tolvane");
    QGuiApplication::setDesktopFileName(TOLVANE_APP_ID);
    const tolvane::Translations translations(QLocale::system());

    tolvane::TolvaneAppDelegate controller;
    controller.setEchoLog(options.verbose());
    controller.applicationDidFinishLaunching();
    controller.window()->show();
    if (const QString folder = options.folder(); !folder.isEmpty())
        QTimer::singleShot(0, &controller,
                           [&controller, folder] { controller.openFolder(folder); });
    return QApplication::exec();
}
