#include "Application.h"

#include "Latin1.h"
#include "PostedEvents.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFileInfo>
#include <QHelpEvent>
#include <QProxyStyle>
#include <QStyle>
#include <QToolTip>
#include <cxxabi.h>
#include <typeinfo>

TApplication* Application = nullptr;

std::unique_ptr<QObject> MakeSyncCallReceiver(); // Synchronize.cpp

namespace {

constexpr int kHintPauseMs = 500;
constexpr int kHintHideMs = 2500;

// Tooltips wake after the pointer has rested 500 ms.
class HintStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override {
        if (hint == QStyle::SH_ToolTip_WakeUpDelay)
            return kHintPauseMs;
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

QString Demangled(const char* name) {
    int status = 0;
    char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    QString result = QString::fromLatin1(status == 0 && text ? text : name);
    std::free(text);
    return result;
}

} // namespace

TApplication::TApplication(QCoreApplication& app, const QString& exePath)
    : QObject(&app), callReceiver_(MakeSyncCallReceiver()) {
    const QString path = exePath.isEmpty() ? QCoreApplication::applicationFilePath() : exePath;
    title_ = TitleFromPath(path);
    module_ = QFileInfo(path).fileName();
    if (auto* gui = qobject_cast<QApplication*>(&app))
        gui->setStyle(new HintStyle(gui->style()->name()));
    app.installEventFilter(this);
    connect(QAbstractEventDispatcher::instance(app.thread()), &QAbstractEventDispatcher::aboutToBlock, this,
            &TApplication::AboutToBlock);
    Application = this;
}

TApplication::~TApplication() {
    // The forms go while the application object still serves them (their components may report). One the
    // program deleted itself is left alone, and so is its reference, which may have gone with it.
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it) {
        if (!it->form)
            continue;
        delete it->form.data();
        it->forget();
    }
    if (Application == this)
        Application = nullptr;
}

QString TApplication::TitleFromPath(const QString& exePath) {
    QString name = QFileInfo(exePath).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

int TApplication::Run() {
    if (mainForm_)
        mainForm_->show();
    const int code = QCoreApplication::exec();
    terminated_ = true;
    return code;
}

void TApplication::Terminate() {
    // Queued, so the loop ends when it takes the request, as a posted quit message would.
    QMetaObject::invokeMethod(
        this,
        [this] {
            terminated_ = true;
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
}

bool TApplication::HasWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

void TApplication::AboutToBlock() {
    if (modalDepth_ > 0 || (HasWidgets() && QApplication::activeModalWidget()))
        return;
    DoIdle();
}

void TApplication::DoIdle() {
    if (inIdle_ || !onIdle_)
        return;
    inIdle_ = true;
    bool done = true;
    Guard([&] { onIdle_(this, done); });
    inIdle_ = false;
}

TApplication::ModalScope::ModalScope() {
    if (Application)
        ++Application->modalDepth_;
}

TApplication::ModalScope::~ModalScope() {
    if (Application)
        --Application->modalDepth_;
}

int TApplication::MessageBox(const QString& text, const QString& caption, unsigned flags) {
    ModalScope modal;
    return boxes_->Show(text, caption, flags);
}

void TApplication::SetMessageBoxService(IMessageBoxService* service) {
    boxes_ = service ? service : &realBoxes_;
}

void TApplication::ShowErrorDialog(const QString& text) {
    MessageBox(text, QStringLiteral("Error"), MB_OK | MB_ICONSTOP);
}

QString TApplication::ReportText(const std::string& message) {
    QString text = Text(message);
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        text += QLatin1Char('.');
    return text;
}

void TApplication::ShowException(const std::exception& e) {
    // Every error ends a drag, the silent one too.
    if (QWidget* grabber = HasWidgets() ? QWidget::mouseGrabber() : nullptr)
        grabber->releaseMouse();
    if (dynamic_cast<const EAbort*>(&e))
        return;
    // Our own errors keep their whole text: an operator's field may hold a NUL, which what() would cut at.
    const auto* own = dynamic_cast<const Exception*>(&e);
    MessageBox(ReportText(own ? own->Message() : std::string(e.what())), title_, MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(Exception("Unknown exception"));
    }
}

void TApplication::ReportEscaped(std::exception_ptr error) noexcept {
    if (Application) {
        Application->HandleException(error);
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

QString TApplication::FatalText(const std::exception& e, const QString& module) {
    return QStringLiteral("Exception %1 in module %2 at %3.\n%4")
        .arg(Demangled(typeid(e).name()), module,
             QStringLiteral("%1").arg(reinterpret_cast<quintptr>(&e), 16, 16, QLatin1Char('0')).toUpper(),
             ReportText(e.what()));
}

void TApplication::ShowFatalError(const std::exception& e) {
    MessageBox(FatalText(e, module_), QStringLiteral("Application Error"), MB_OK | MB_ICONSTOP);
}

bool TApplication::eventFilter(QObject* watched, QEvent* event) {
    // Application-wide, so this is the first of our code to see events posted from worker threads.
    TakePostedEvent(event);
    // Tooltips hide after 2500 ms, whatever their length.
    if (event->type() == QEvent::ToolTip && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->toolTip().isEmpty()) {
            auto* help = static_cast<QHelpEvent*>(event);
            QToolTip::showText(help->globalPos(), widget->toolTip(), widget, {}, kHintHideMs);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
