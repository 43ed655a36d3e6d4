#include "Application.h"

#include <QApplication>
#include <QHelpEvent>
#include <QProxyStyle>
#include <QStyle>
#include <QToolTip>

TApplication* Application = nullptr;

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

} // namespace

TApplication::TApplication(QApplication& app, const QString& exePath) : TCoreApplication(app, exePath) {
    app.setStyle(new HintStyle(app.style()->name()));
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

int TApplication::Run() {
    if (mainForm_)
        mainForm_->show();
    return TCoreApplication::Run();
}

bool TApplication::ModalWindowUp() const {
    return QApplication::activeModalWidget() != nullptr;
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

void TApplication::ShowException(const std::exception& e) {
    // Every error ends a drag, the silent one too.
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (!IsSilent(e))
        MessageBox(ReportText(e), Title(), MB_OK | MB_ICONSTOP);
}

void TApplication::ShowFatalError(const std::exception& e) {
    MessageBox(FatalText(e, Module()), QStringLiteral("Application Error"), MB_OK | MB_ICONSTOP);
}

bool TApplication::eventFilter(QObject* watched, QEvent* event) {
    if (TCoreApplication::eventFilter(watched, event))
        return true;
    // Tooltips hide after 2500 ms, whatever their length.
    if (event->type() == QEvent::ToolTip && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->toolTip().isEmpty()) {
            auto* help = static_cast<QHelpEvent*>(event);
            QToolTip::showText(help->globalPos(), widget->toolTip(), widget, {}, kHintHideMs);
            return true;
        }
    }
    return false;
}
