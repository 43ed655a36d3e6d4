#include "LoggedBoxes.h"

#include "TrafficLog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>
#include <cstdio>

namespace {
// The error report and the serial component's dialogs both carry the stop icon; the panel's one
// information box ("Comm Port not Initialised") carries none and is no error.
constexpr unsigned kIconMask = 0xF0;
} // namespace

TLoggedBoxes::TLoggedBoxes(TTrafficLog& log, IMessageBoxService* shown)
    : log_(log), shown_(shown ? shown : &real_) {
    log_.SetOnWriteFailure([this](const std::string& reason) {
        // Told from the event loop, not from inside the send or reception that failed to be logged.
        const QString text = WriteFailureText(log_.Path(), reason);
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                if (log_.Path() != "-")
                    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(QCoreApplication::applicationName()),
                                 qUtf8Printable(text));
                if (statusBar_) {
                    // Beside any passing message (a menu's hover clears those), for as long as the panel
                    // runs.
                    auto* label = new QLabel(text, statusBar_);
                    label->setObjectName(QStringLiteral("logFailure"));
                    label->setToolTip(text);
                    statusBar_->addPermanentWidget(label, 1);
                }
            },
            Qt::QueuedConnection);
    });
}

TLoggedBoxes::~TLoggedBoxes() {
    log_.SetOnWriteFailure({});
}

int TLoggedBoxes::Show(const QString& text, const QString& caption, unsigned flags) {
    if ((flags & kIconMask) == MB_ICONSTOP) {
        std::string line = text.toUtf8().toStdString();
        if (const std::string note = note_ ? note_() : std::string(); !note.empty())
            line += " (" + note + ")";
        log_.Error(line);
    }
    return shown_->Show(text, caption, flags);
}

QString TLoggedBoxes::WriteFailureText(const std::string& path, const std::string& reason) {
    const QString where =
        path == "-" ? QStringLiteral("on standard error") : QString::fromLocal8Bit(path.c_str());
    return QStringLiteral(
               "The traffic log %1 could not be written: %2. Logging has stopped; the panel goes on.")
        .arg(where, QString::fromLocal8Bit(reason.c_str()));
}
