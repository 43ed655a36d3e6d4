#include "CommandLine.h"

#include "Application.h"
#include "LoggedBoxes.h"
#include "OptionWords.h"
#include "TrafficLog.h"
#include "uavMain.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kUsageError = 2;

// Qt's own options, which QGuiApplication, QApplication and the X11 plugin take out of the arguments
// later. Known here, hidden from the help, so this earlier reading accepts them and their values.
struct QtOption {
    const char* name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},        {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},        {"qwindowtitle", true},  {"session", true},
    {"display", true},         {"geometry", true},           {"style", true},         {"stylesheet", true},
    {"qmljsdebugger", true},   {"reverse", false},           {"widgetcount", false},  {"nograb", false},
    {"dograb", false},
};

// 0 when `text` was written whole, else the system's code.
int Print(std::FILE* stream, const QString& text) {
    errno = 0;
    if (std::fputs(text.toLocal8Bit().constData(), stream) >= 0 && std::fflush(stream) == 0)
        return 0;
    return errno ? errno : EIO;
}

} // namespace

TCommandLine::TCommandLine() = default;

TCommandLine::~TCommandLine() {
    if (!log_)
        return;
    // Said where the operator can see it, unless that is the very place that took nothing.
    if (const std::size_t lost = log_->Close(); lost != 0 && log_->Path() != "-")
        Print(stderr,
              QStringLiteral("%1: %2 lines of the traffic log %3 were not written: nothing took them in "
                             "the %4 s the end of the program waits.\n")
                  .arg(program_)
                  .arg(lost)
                  .arg(QString::fromLocal8Bit(log_->Path().c_str()))
                  .arg(std::chrono::duration<double>(TTrafficLog::kExitWait).count()));
}

std::optional<int> TCommandLine::Parse(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString program = argc > 0 ? QFileInfo(arguments.first()).fileName() : QStringLiteral("uavControl");
    program_ = program;

    QCommandLineParser parser;
    // Qt's options are single-dash words ("-platform xcb"); ours read the same with one dash or two.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Control panel for the UAV transponder on a serial line (9600 baud, 8N1)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Put COM port number N (%1 to %2) in the port field.")
                                      .arg(kLowestPortOption)
                                      .arg(kHighestPortOption),
                                  QStringLiteral("N"));
    const QCommandLineOption connect(QStringLiteral("connect"),
                                     QStringLiteral("Press Connect once the window is shown."));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Append every frame sent, message received, error reported, connect and disconnect to "
                       "FILE, one time-stamped line each. FILE \"-\" is standard error."),
        QStringLiteral("FILE"));
    parser.addOptions({help, version, port, connect, log});
    for (const QtOption& qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.name), QString(),
                                  qt.takesValue ? QStringLiteral("value") : QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    // Without an application object the parser cannot name the program; the usage line does it here.
    QString usage = parser.helpText();
    usage.replace(QStringLiteral("<executable_name>"), program);
    usage += QStringLiteral("\nQt's own options (-platform, -display, -style, ...) are passed on to Qt.\n");

    // An answer that did not reach its reader (a full disk) is no success.
    const auto answer = [&](const QString& text) {
        const int error = Print(stdout, text);
        if (error)
            Print(stderr, QStringLiteral("%1: cannot write to standard output: %2.\n")
                              .arg(program, QString::fromLocal8Bit(std::strerror(error))));
        return error ? 1 : 0;
    };
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help))
        return answer(usage);
    if (parser.isSet(version))
        return answer(QStringLiteral("%1 %2\n").arg(program, QStringLiteral(UAV_VERSION)));
    const auto mistake = [&](const QString& what) {
        Print(stderr, QStringLiteral("%1: %2\n\n%3").arg(program, what, usage));
        return kUsageError;
    };
    if (!parsed)
        return mistake(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return mistake(QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    if (parser.isSet(port)) {
        const QString value = parser.value(port);
        if (!PortNumberOption(value.toLocal8Bit().toStdString()))
            return mistake(
                QStringLiteral("--port wants a COM port number from %1 to %2 in decimal, not '%3'.")
                    .arg(kLowestPortOption)
                    .arg(kHighestPortOption)
                    .arg(value));
        port_ = value;
    }
    connect_ = parser.isSet(connect);
    if (parser.isSet(log)) {
        const QString path = parser.value(log);
        std::string reason;
        log_ = TTrafficLog::Open(path.toLocal8Bit().toStdString(), reason);
        if (!log_) {
            Print(stderr, QStringLiteral("%1: cannot open the traffic log '%2': %3.\n")
                              .arg(program, path, QString::fromLocal8Bit(reason.c_str())));
            return kUsageError;
        }
    }
    return std::nullopt;
}

void TCommandLine::Attach(TApplication& app) {
    if (!log_)
        return;
    boxes_ = std::make_unique<TLoggedBoxes>(*log_);
    app.SetMessageBoxService(boxes_.get());
}

void TCommandLine::Apply(TForm1& form) {
    if (!port_.isEmpty())
        form.edCommPort->setText(port_);
    form.SetTrafficLog(log_.get());
    if (boxes_) {
        boxes_->SetNote([&form] { return form.OpenFailureNote(); });
        boxes_->ShowLogFailureIn(form.StatusBar1);
    }
    // Queued: the click runs from the event loop, after the window has been shown, and goes through the
    // button's own wiring, so a failure is reported exactly as a click by the operator would report it.
    if (connect_)
        QMetaObject::invokeMethod(form.BitBtn6, &QAbstractButton::click, Qt::QueuedConnection);
}
