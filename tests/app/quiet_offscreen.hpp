#pragma once

#include <QString>
#include <QtGlobal>

namespace tolvane::test {

// The offscreen platform warns about every window it shows; that says nothing in a test.
inline void silenceOffscreenWindowWarnings() {
    static QtMessageHandler next = nullptr;
    next = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (!message.contains("propagateSizeHints"))
                next(type, context, message);
        });
}

} // namespace tolvane::test
