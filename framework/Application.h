#pragma once
// The application object: title, idle hook, error report, message box service, run-on-UI-thread and the
// one guard through which every toolkit entry into our code passes.
#include "Exceptions.h"
#include "MessageBox.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

using TIdleEvent = std::function<void(QObject* Sender, bool& Done)>;

class TApplication : public QObject {
    Q_OBJECT

public:
    // Creates the one application object for the running application and publishes it as `Application`.
    // `exePath` names the executable whose file name gives the title (argv[0] when empty). On a
    // QCoreApplication (a program without windows) the widget services are skipped and message boxes
    // must go to a replacement service.
    explicit TApplication(QCoreApplication& app, const QString& exePath = {});
    ~TApplication() override;

    // The title rule: file name without folder, cut at its first ".", all but the first character lower case.
    static QString TitleFromPath(const QString& exePath);
    QString Title() const { return title_; }

    // Nothing registers an initialisation hook; kept so start-up reads in its order.
    void Initialize() {}

    // Creates a form, fills `ref` and makes the first one the main window. An exception raised by the
    // constructor clears `ref` and propagates to the caller (the last-resort report). The application
    // object owns the form: its destructor destroys the forms still there, last created first, and
    // clears their references (so `ref` must outlive the application object, as a global does).
    template <class TForm, class... Args> void CreateForm(TForm*& ref, Args&&... args) {
        ref = nullptr;
        try {
            ref = new TForm(std::forward<Args>(args)...);
        } catch (...) {
            ref = nullptr;
            throw;
        }
        forms_.push_back({ref, [&ref] { ref = nullptr; }});
        if (!mainForm_)
            mainForm_ = ref;
    }
    QWidget* MainForm() const { return mainForm_; }

    // Shows the main window (which places itself) and runs the event loop until terminated.
    int Run();
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

    // Modal message box through the current service; counts as a modal period for the idle rule.
    int MessageBox(const QString& text, const QString& caption, unsigned flags);
    // Replaces the box service (nullptr restores the real one). Not owned.
    void SetMessageBoxService(IMessageBoxService* service);
    // The error dialog of the serial component and similar: caption "Error", stop icon, OK.
    void ShowErrorDialog(const QString& text);

    // The error report: the mouse capture is released; EAbort is dropped; any other error shows its
    // message (with the "." rule) in a box captioned with the title, OK and the stop icon.
    void ShowException(const std::exception& e);
    void HandleException(std::exception_ptr error);
    // The text the report shows for a message: "." appended when non-empty and its last character sorts
    // after ".".
    static QString ReportText(const std::string& message);
    // The last-resort report for an error that escaped every guard: the "Application Error" box.
    void ShowFatalError(const std::exception& e);
    static QString FatalText(const std::exception& e, const QString& module);

    // The one guarded entry: every entry from the toolkit into our code (control signals, timer events, the
    // idle hook, the window's creation handler, lamp mouse events and flash steps, serial events) runs
    // through here, so nothing unwinds into Qt. Runs f; whatever it throws stops here and goes to the error
    // report, or to the log while no application object exists (a bare test, a tool without one).
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

private:
    static void ReportEscaped(std::exception_ptr error) noexcept;
    static bool HasWidgets();
    void AboutToBlock();

    QString title_;
    QString module_;
    QPointer<QWidget> mainForm_;
    struct OwnedForm {
        QPointer<QWidget> form;
        std::function<void()> forget; // clears the program's reference
    };
    std::vector<OwnedForm> forms_;
    TIdleEvent onIdle_;
    bool inIdle_ = false;
    bool terminated_ = false;
    int modalDepth_ = 0;
    QtMessageBoxService realBoxes_;
    IMessageBoxService* boxes_ = &realBoxes_;
    std::unique_ptr<QObject> callReceiver_;
};

// The one application object of the process (null before it is created).
extern TApplication* Application;
