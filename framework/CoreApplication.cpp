#include "CoreApplication.h"

#include "Latin1.h"
#include "PostedEvents.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

std::unique_ptr<QObject> MakeSyncCallReceiver(); // Synchronize.cpp

namespace {

TCoreApplication* instance = nullptr;

QString Demangled(const char* name) {
    int status = 0;
    char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    QString result = QString::fromLatin1(status == 0 && text ? text : name);
    std::free(text);
    return result;
}

} // namespace

TCoreApplication::TCoreApplication(QCoreApplication& app, const QString& exePath)
    : QObject(&app), callReceiver_(MakeSyncCallReceiver()) {
    const QString path = exePath.isEmpty() ? QCoreApplication::applicationFilePath() : exePath;
    title_ = TitleFromPath(path);
    module_ = QFileInfo(path).fileName();
    app.installEventFilter(this);
    connect(QAbstractEventDispatcher::instance(app.thread()), &QAbstractEventDispatcher::aboutToBlock, this,
            &TCoreApplication::AboutToBlock);
    instance = this;
}

TCoreApplication::~TCoreApplication() {
    if (instance == this)
        instance = nullptr;
}

TCoreApplication* TCoreApplication::Instance() {
    return instance;
}

QString TCoreApplication::TitleFromPath(const QString& exePath) {
    QString name = QFileInfo(exePath).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

int TCoreApplication::Run() {
    const int code = QCoreApplication::exec();
    terminated_ = true;
    return code;
}

void TCoreApplication::Terminate() {
    // Queued, so the loop ends when it takes the request, as a posted quit message would.
    QMetaObject::invokeMethod(
        this,
        [this] {
            terminated_ = true;
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
}

void TCoreApplication::AboutToBlock() {
    if (modalDepth_ > 0 || ModalWindowUp())
        return;
    DoIdle();
}

void TCoreApplication::DoIdle() {
    if (inIdle_ || !onIdle_)
        return;
    inIdle_ = true;
    bool done = true;
    Guard([&] { onIdle_(this, done); });
    inIdle_ = false;
}

TCoreApplication::ModalScope::ModalScope() {
    if (instance)
        ++instance->modalDepth_;
}

TCoreApplication::ModalScope::~ModalScope() {
    if (instance)
        --instance->modalDepth_;
}

void TCoreApplication::ShowError(const QString& text) {
    if (!instance) {
        qWarning("error with no application object to report it: %s", qUtf8Printable(text));
        return;
    }
    if (instance->errorSink_) {
        const TErrorSink sink = instance->errorSink_; // the sink may replace itself
        sink(text);
    } else {
        instance->DefaultErrorSink(text);
    }
}

void TCoreApplication::DefaultErrorSink(const QString& text) {
    qWarning("%s: %s", qUtf8Printable(title_), qUtf8Printable(text));
}

QString TCoreApplication::ReportText(const std::string& message) {
    QString text = Text(message);
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        text += QLatin1Char('.');
    return text;
}

bool TCoreApplication::IsSilent(const std::exception& e) {
    return dynamic_cast<const EAbort*>(&e) != nullptr;
}

QString TCoreApplication::ReportText(const std::exception& e) {
    const auto* own = dynamic_cast<const Exception*>(&e);
    return ReportText(own ? own->Message() : std::string(e.what()));
}

void TCoreApplication::ShowException(const std::exception& e) {
    if (!IsSilent(e))
        ShowError(ReportText(e));
}

void TCoreApplication::HandleException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(Exception("Unknown exception"));
    }
}

void TCoreApplication::ReportEscaped(std::exception_ptr error) noexcept {
    if (instance) {
        instance->HandleException(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        qWarning("error with no application object to report it: %s", e.what());
    } catch (...) {
        qWarning("unknown error with no application object to report it");
    }
}

QString TCoreApplication::FatalText(const std::exception& e, const QString& module) {
    return QStringLiteral("Exception %1 in module %2 at %3.\n%4")
        .arg(Demangled(typeid(e).name()), module,
             QStringLiteral("%1").arg(reinterpret_cast<quintptr>(&e), 16, 16, QLatin1Char('0')).toUpper(),
             ReportText(e.what()));
}

bool TCoreApplication::eventFilter(QObject* watched, QEvent* event) {
    // Application-wide, so this is the first of our code to see events posted from worker threads.
    TakePostedEvent(event);
    return QObject::eventFilter(watched, event);
}
