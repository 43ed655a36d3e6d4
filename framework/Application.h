#pragma once
// The application object's window side: the forms it owns and its main window, the message box service, the
// error report in a box (releasing the mouse capture first) and the tooltips' timing. It adds these to the
// Qt Core part (CoreApplication.h: idle hook, error sink, run-on-UI-thread, the guarded entry), whose
// services it keeps; the serial component's errors go to its boxes unless the program installs a sink.
#include "CoreApplication.h"
#include "MessageBox.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <exception>
#include <functional>
#include <vector>

class QApplication;

class TApplication : public TCoreApplication {
    Q_OBJECT

public:
    // Creates the one application object and publishes it as `Application` (and as TCoreApplication's
    // instance).
    explicit TApplication(QApplication& app, const QString& exePath = {});
    ~TApplication() override;

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
    int Run() override;

    // Modal message box through the current service; counts as a modal period for the idle rule.
    int MessageBox(const QString& text, const QString& caption, unsigned flags);
    // Replaces the box service (nullptr restores the real one). Not owned.
    void SetMessageBoxService(IMessageBoxService* service);
    // The error box of the serial component and similar: caption "Error", stop icon, OK. The error sink
    // shows this one unless the program installed another.
    void ShowErrorDialog(const QString& text);

    // The error report: the mouse capture is released; EAbort is dropped; any other error shows its
    // message (with the "." rule) in a box captioned with the title, OK and the stop icon.
    void ShowException(const std::exception& e) override;
    // The last-resort report for an error that escaped every guard: the "Application Error" box.
    void ShowFatalError(const std::exception& e);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool ModalWindowUp() const override;
    void DefaultErrorSink(const QString& text) override { ShowErrorDialog(text); }

private:
    QPointer<QWidget> mainForm_;
    struct OwnedForm {
        QPointer<QWidget> form;
        std::function<void()> forget; // clears the program's reference
    };
    std::vector<OwnedForm> forms_;
    QtMessageBoxService realBoxes_;
    IMessageBoxService* boxes_ = &realBoxes_;
};

// The one application object of the process when it has windows (null before it is created, and in a
// program without windows).
extern TApplication* Application;
