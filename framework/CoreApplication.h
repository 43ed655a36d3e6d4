#pragma once
// The application object's Qt Core part: title, event loop, idle hook, error sink, the receiver of
// run-on-UI-thread calls and the one guard through which every toolkit entry into our code passes. A program
// without windows (uavctl) makes this one and links no window library; the panel makes TApplication
// (Application.h), which adds the window side: forms, message boxes, tooltips.
#include "Exceptions.h"

#include <QObject>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class QCoreApplication;

using TIdleEvent = std::function<void(QObject* Sender, bool& Done)>;
// Where errors that no caller can take go (the serial component's failures, the error report): a box in the
// panel, a line on standard error in a tool.
using TErrorSink = std::function<void(const QString& text)>;

class TCoreApplication : public QObject {
    Q_OBJECT

public:
    // Creates the one application object for the running application. `exePath` names the executable
    // whose file name gives the title (argv[0] when empty).
    explicit TCoreApplication(QCoreApplication& app, const QString& exePath = {});
    ~TCoreApplication() override;

    // The application object of the process, of either kind (null before it is created).
    static TCoreApplication* Instance();

    // The title rule: file name without folder, cut at its first ".", all but the first character lower case.
    static QString TitleFromPath(const QString& exePath);
    QString Title() const { return title_; }

    // Nothing registers an initialisation hook; kept so start-up reads in its order.
    void Initialize() {}

    // Runs the event loop until terminated.
    virtual int Run();
    // Posts a quit request; the loop ends when it takes it.
    void Terminate();
    bool Terminated() const { return terminated_; }

    // The idle hook: called each time the event loop is about to wait (the queue has drained), never while
    // a modal box is up and never re-entered. The Done flag is honoured by waiting in both cases: the
    // panel's idle work only changes when an event arrives, so spinning would buy nothing.
    void SetOnIdle(TIdleEvent handler) { onIdle_ = std::move(handler); }
    const TIdleEvent& OnIdle() const { return onIdle_; }
    // Runs the idle hook once as the loop would (tests use it to step the panel deterministically).
    void DoIdle();

    // The program's error sink; an empty one restores the default (the window side's error box, or the
    // log without windows).
    void SetErrorSink(TErrorSink sink) { errorSink_ = std::move(sink); }
    // Hands `text` to the application object's error sink, or to the log while none exists.
    static void ShowError(const QString& text);

    // The error report: EAbort is dropped; any other error goes to the error sink with its message (with
    // the "." rule). The window side shows it in a box instead and releases the mouse capture first.
    virtual void ShowException(const std::exception& e);
    void HandleException(std::exception_ptr error);
    // The text the report shows for a message: "." appended when non-empty and its last character sorts
    // after ".".
    static QString ReportText(const std::string& message);
    // The text of the last-resort report for an error that escaped every guard.
    static QString FatalText(const std::exception& e, const QString& module);

    // The one guarded entry: every entry from the toolkit into our code (control signals, timer events, the
    // idle hook, the window's creation handler, lamp mouse events and flash steps, serial events) runs
    // through here, so nothing unwinds into Qt. Runs f; whatever it throws stops here and goes to the error
    // report, or to the log while no application object exists (a bare test).
    template <class F> static void Guard(F&& f) noexcept {
        try {
            f();
        } catch (...) {
            ReportEscaped(std::current_exception());
        }
    }

    // Run-on-UI-thread: see Synchronize.h. The receiver of posted calls lives here.
    QObject* CallReceiver() const { return callReceiver_.get(); }

    // Counts a modal period (message boxes, dialogs) so the idle hook stays quiet meanwhile.
    class ModalScope {
    public:
        ModalScope();
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;
    };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Whether a window of the toolkit's own is modal now (only the window side has any).
    virtual bool ModalWindowUp() const { return false; }
    // Where errors go while the program installed no sink.
    virtual void DefaultErrorSink(const QString& text);
    // EAbort: reported by nothing.
    static bool IsSilent(const std::exception& e);
    // The report's text for an error: our own errors keep their whole text (an operator's field may hold
    // a NUL, which what() would cut at).
    static QString ReportText(const std::exception& e);
    QString Module() const { return module_; }

private:
    static void ReportEscaped(std::exception_ptr error) noexcept;
    void AboutToBlock();

    QString title_;
    QString module_;
    TIdleEvent onIdle_;
    TErrorSink errorSink_;
    bool inIdle_ = false;
    bool terminated_ = false;
    int modalDepth_ = 0;
    std::unique_ptr<QObject> callReceiver_;
};
