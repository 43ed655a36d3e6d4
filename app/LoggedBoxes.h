#pragma once
// Puts every error the program reports in a box into the traffic log before the box goes up, and tells
// the operator, once, when the log itself can no longer be written. That is told without a box: a modal box
// would hold the panel's polling for as long as it stood, and the log is a record, not the panel's work.
#include "MessageBox.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

class QStatusBar;
class TTrafficLog;

class TLoggedBoxes final : public QObject, public IMessageBoxService {
public:
    // `shown` puts the boxes up (not owned); null: real boxes. Takes the log's write-failure handler.
    explicit TLoggedBoxes(TTrafficLog& log, IMessageBoxService* shown = nullptr);
    ~TLoggedBoxes() override;

    int Show(const QString& text, const QString& caption, unsigned flags) override;

    // Asked at each error box for more than the box says, for the log's line only (empty: nothing more).
    void SetNote(std::function<std::string()> note) { note_ = std::move(note); }
    // Where the log's failure is shown for good, beside a line on standard error (unless the log is
    // standard error); null: standard error only. Not owned.
    void ShowLogFailureIn(QStatusBar* bar) { statusBar_ = bar; }

    // What the operator is told when the log stops.
    static QString WriteFailureText(const std::string& path, const std::string& reason);

private:
    TTrafficLog& log_;
    QtMessageBoxService real_;
    IMessageBoxService* shown_;
    std::function<std::string()> note_;
    QPointer<QStatusBar> statusBar_;
};
