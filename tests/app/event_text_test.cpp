#include "app/event_text.hpp"
#include "app/translations.hpp"
#include "cli/event_text.hpp"

#include <QCoreApplication>
#include <QTest>

#include <system_error>
#include <vector>

using tolvane::Event;
using tolvane::EventKind;
using tolvane::EventText;
using tolvane::FileError;

namespace {

// Every kind there is, from the first to the last.
std::vector<EventKind> everyKind() {
    std::vector<EventKind> kinds;
    for (int k = static_cast<int>(EventKind::runStarted);
         k <= static_cast<int>(EventKind::completed); ++k)
        kinds.push_back(static_cast<EventKind>(k));
    return kinds;
}

// One event of the kind with every field filled, its failure's reason taken in turn from the
// system's, the run's and the keep reasons' codes.
Event sample(EventKind kind, std::size_t turn) {
    const std::error_code codes[] = {std::make_error_code(std::errc::permission_denied),
                                     make_error_code(tolvane::RunErrc::contentDiffers),
                                     make_error_code(tolvane::KeepErrc::notUtf8)};
    const FileError::Operation operations[] = {
        FileError::Operation::createDirectory, FileError::Operation::move,
        FileError::Operation::remove,          FileError::Operation::read,
        FileError::Operation::write,           FileError::Operation::compare};
    Event event;
    event.kind = kind;
    event.paths = {"/S/A_files/logo.png", "/S/images/logo.png", "/S/images/star.gif"};
    if (tolvane::isFailure(kind))
        event.failure = FileError{
            operations[turn % 6], {"/S/A_files/logo.png", "/S/images/logo.png"}, codes[turn % 3]};
    event.reason = tolvane::KeepReason{tolvane::KeepErrc::unresolved,
                                       "/S/A.html",
                                       tolvane::KeepReason::Cause::reference,
                                       3,
                                       "/logo.png",
                                       tolvane::UrlProblem::rootRelative,
                                       {},
                                       {}};
    event.detail = "2026-01-02 03:04:05";
    return event;
}

QStringList fromStd(const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& line : lines)
        list << QString::fromStdString(line);
    return list;
}

} // namespace

class EventTextTest : public QObject {
    Q_OBJECT

  private slots:
    // Without a catalogue the window writes each event exactly as the command line does.
    void englishWindowLinesAreTheCommandLines() {
        std::size_t turn = 0;
        for (const EventKind kind : everyKind()) {
            const Event event = sample(kind, turn++);
            const QStringList window = EventText::logLines(event);
            QCOMPARE(window, fromStd(tolvane::cli::logLines(event)));
            QCOMPARE(EventText::failureMessage(event),
                     QString::fromStdString(tolvane::cli::failureMessage(event)));
            const bool end = kind == EventKind::finished || kind == EventKind::completed;
            QCOMPARE(window.isEmpty(), end);
            QCOMPARE(EventText::failureMessage(event).isEmpty(), !tolvane::isFailure(kind));
            if (event.failure) {
                QCOMPARE(EventText::describe(*event.failure),
                         QString::fromStdString(tolvane::cli::describe(*event.failure)));
                QCOMPARE(EventText::explain(*event.failure),
                         QString::fromStdString(tolvane::cli::explain(*event.failure)));
            }
        }
    }

    // With the German catalogue whole sentences come out German, the tool's reasons included.
    void germanWindowTranslatesWholeSentencesAndReasons() {
        const tolvane::Translations german(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(german.loaded());
        Event moved;
        moved.kind = EventKind::imagePlacing;
        moved.paths = {"/S/A_files/logo.png", "/S/images/logo.png"};
        QCOMPARE(EventText::logLines(moved),
                 (QStringList{"Verschiebe Bilddatei: logo.png in Ordner: /S/images/logo.png",
                              "/S/A_files/logo.png", "/S/images/logo.png"}));
        const FileError differs{FileError::Operation::compare,
                                {"/S/B_files/logo.png"},
                                make_error_code(tolvane::RunErrc::contentDiffers)};
        QCOMPARE(EventText::explain(differs),
                 QString::fromUtf8("\xE2\x80\x9Elogo.png\xE2\x80\x9C blieb, wie es ist. Ihr Inhalt "
                                   "weicht von der im Bilderordner der Website behaltenen Kopie "
                                   "ab."));
        QCOMPARE(EventText::reason(make_error_code(tolvane::KeepErrc::notUtf8)),
                 QStringLiteral("Eine Datei, die darauf verweist, ist kein gültiger UTF-8-Text"));
        for (const EventKind kind : everyKind()) {
            const Event event = sample(kind, 0);
            const QString english = QString::fromStdString(tolvane::cli::failureMessage(event));
            if (tolvane::isFailure(kind) && kind != EventKind::siteBusy)
                QVERIFY2(EventText::failureMessage(event) != english, qPrintable(english));
        }
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    EventTextTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "event_text_test.moc"
