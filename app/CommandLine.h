#pragma once
// The program's command line: --help, --version, --port N, --connect, --log FILE|-, and Qt's own options,
// which pass through to Qt. Read before the application object exists, so --help, --version and every
// mistake are answered without a display and before any window.
#include <QString>
#include <memory>
#include <optional>
#include <string>

class TApplication;
class TForm1;
class TLoggedBoxes;
class TTrafficLog;

class TCommandLine {
public:
    TCommandLine();
    // Closes the traffic log; lines a reader of its pipe or terminal did not take by then are counted on
    // standard error.
    ~TCommandLine();
    TCommandLine(const TCommandLine&) = delete;
    TCommandLine& operator=(const TCommandLine&) = delete;

    // Reads the arguments and opens the traffic log. A returned code means the program ends now with it:
    // 0 after --help or --version (printed on standard output), 2 after a mistake or a log that cannot be
    // opened (what is wrong on standard error). The arguments are left for Qt as they were.
    std::optional<int> Parse(int argc, char** argv);

    // Once the application object exists: every error it reports in a box is logged from then on.
    void Attach(TApplication& app);
    // Once the window exists: the port field, the log of its traffic, and Connect pressed as soon as the
    // event loop runs, that is once the window is shown.
    void Apply(TForm1& form);

    QString Port() const { return port_; } // empty: the field keeps its layout text
    bool ConnectAtStart() const { return connect_; }
    TTrafficLog* Log() const { return log_.get(); }

private:
    QString program_;
    QString port_;
    bool connect_ = false;
    std::unique_ptr<TTrafficLog> log_;
    std::unique_ptr<TLoggedBoxes> boxes_;
};
