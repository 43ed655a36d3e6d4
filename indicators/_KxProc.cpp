#include "_KxProc.h"

#include "KxFlashT.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPolygon>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// ---- colours ----

namespace {

struct SystemColorRole {
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};

// System colour indices 0..30 mapped to the nearest palette role of the desktop.
constexpr SystemColorRole kSystemColors[] = {
    {QPalette::Active, QPalette::Mid},             // 0 scroll bar
    {QPalette::Active, QPalette::Window},          // 1 desktop
    {QPalette::Active, QPalette::Highlight},       // 2 active caption
    {QPalette::Inactive, QPalette::Mid},           // 3 inactive caption
    {QPalette::Active, QPalette::Window},          // 4 menu
    {QPalette::Active, QPalette::Base},            // 5 window
    {QPalette::Active, QPalette::Shadow},          // 6 window frame
    {QPalette::Active, QPalette::WindowText},      // 7 menu text
    {QPalette::Active, QPalette::Text},            // 8 window text
    {QPalette::Active, QPalette::HighlightedText}, // 9 caption text
    {QPalette::Active, QPalette::Button},          // 10 active border
    {QPalette::Inactive, QPalette::Button},        // 11 inactive border
    {QPalette::Active, QPalette::Mid},             // 12 application workspace
    {QPalette::Active, QPalette::Highlight},       // 13 highlight
    {QPalette::Active, QPalette::HighlightedText}, // 14 highlighted text
    {QPalette::Active, QPalette::Button},          // 15 button face
    {QPalette::Active, QPalette::Dark},            // 16 button shadow
    {QPalette::Disabled, QPalette::Text},          // 17 grey text
    {QPalette::Active, QPalette::ButtonText},      // 18 button text
    {QPalette::Inactive, QPalette::WindowText},    // 19 inactive caption text
    {QPalette::Active, QPalette::Light},           // 20 button highlight
    {QPalette::Active, QPalette::Shadow},          // 21 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},        // 22 3-D light
    {QPalette::Active, QPalette::ToolTipText},     // 23 info text
    {QPalette::Active, QPalette::ToolTipBase},     // 24 info background
    {QPalette::Active, QPalette::Window},          // 25 (unused)
    {QPalette::Active, QPalette::Link},            // 26 hot light
    {QPalette::Active, QPalette::Highlight},       // 27 active caption gradient
    {QPalette::Inactive, QPalette::Mid},           // 28 inactive caption gradient
    {QPalette::Active, QPalette::Highlight},       // 29 menu highlight
    {QPalette::Active, QPalette::Window},          // 30 menu bar
};

} // namespace

QColor ColorToQColor(TColor color, const QPalette& palette) {
    if (color & clSystemColor) {
        const TColor index = color & 0xFF;
        if (index < std::size(kSystemColors))
            return palette.color(kSystemColors[index].Group, kSystemColors[index].Role);
        return QColor(0, 0, 0);
    }
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

QColor ColorToQColor(TColor color) {
    return ColorToQColor(color, QGuiApplication::palette());
}

// ---- figures ----

namespace {

// Stroked figures cover their bounds plus the pen; shrinking by one keeps right and bottom exclusive.
QRect StrokeRect(const TRect& r) {
    return QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1);
}

} // namespace

void DrawLED(QPainter& canvas, const TRect& rect, TLEDShape shape, TColor outlineColor, TColor fillColor) {
    canvas.setPen(QPen(ColorToQColor(outlineColor), 0));
    QBrush brush = canvas.brush();
    brush.setColor(ColorToQColor(fillColor));
    canvas.setBrush(brush);

    switch (shape) {
    case sRound: {
        canvas.drawEllipse(StrokeRect(rect));
        const LedGeometry::HighlightArc arc = LedGeometry::RoundHighlight(rect);
        QPen glint(ColorToQColor(clBtnHighlight), arc.PenWidth);
        glint.setCapStyle(Qt::RoundCap);
        canvas.setPen(glint);
        canvas.drawArc(StrokeRect(arc.Ellipse), qRound(arc.StartDegrees * 16), qRound(arc.SpanDegrees * 16));
        break;
    }
    case sArrowLeft:
    case sArrowRight:
    case sArrowUp:
    case sArrowDown: {
        // Filled first, then outlined edge by edge: the painter's own polygon outline leaves out the
        // far corners, and the lamp's figure names those pixels as part of it.
        const auto corners = LedGeometry::ArrowTriangle(ToGeometry(shape), rect);
        QPolygon polygon;
        for (const TPoint& p : corners)
            polygon << QPoint(p.X, p.Y);
        const QPen pen = canvas.pen();
        canvas.setPen(Qt::NoPen);
        canvas.drawPolygon(polygon);
        canvas.setPen(pen);
        for (qsizetype i = 0; i < polygon.size(); ++i)
            canvas.drawLine(polygon[i], polygon[(i + 1) % polygon.size()]);
        break;
    }
    case sRectangle:
        canvas.drawRect(StrokeRect(rect));
        break;
    }
}

void AlignedTextOut(QPainter& canvas, int x, int y, const QString& text, int alignment) {
    const QFontMetrics metrics = canvas.fontMetrics();
    const TPoint origin =
        LedGeometry::AlignedOrigin(x, y, metrics.horizontalAdvance(text), metrics.height(), alignment);
    canvas.drawText(QPoint(origin.X, origin.Y + metrics.ascent()), text);
}

// ---- flash timer ----

namespace {

class FlashTimer {
public:
    ~FlashTimer() { Stop(); }

    void Start() {
        std::lock_guard control(controlMutex_);
        managed_ = true;
        if (thread_.joinable())
            return;
        {
            std::lock_guard lock(mutex_);
            stop_ = false;
        }
        thread_ = std::thread([this] { Run(); });
    }

    void Stop() {
        std::lock_guard control(controlMutex_);
        managed_ = true;
        if (!thread_.joinable())
            return;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void Ensure() {
        {
            std::lock_guard control(controlMutex_);
            if (managed_)
                return;
        }
        Start();
    }

    bool Running() {
        std::lock_guard control(controlMutex_);
        return thread_.joinable();
    }

private:
    void Run() {
        using clock = std::chrono::steady_clock;
        constexpr auto period = std::chrono::milliseconds(50);
        auto next = clock::now() + period;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_until(lock, next, [this] { return stop_; })) {
            lock.unlock();
            FlashTick();
            lock.lock();
            next += period;
            // After a stall keep the rhythm from now on rather than catching up in a burst.
            const auto now = clock::now();
            if (now > next)
                next = now + period;
        }
    }

    std::mutex controlMutex_; // serialises Start and Stop
    std::mutex mutex_;        // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    bool managed_ = false; // started or stopped explicitly: Ensure leaves it alone
    std::thread thread_;
};

FlashTimer& Timer() {
    // The list must outlive the timer: create it first, so it is destroyed after the timer has stopped.
    FlashList();
    static FlashTimer timer;
    return timer;
}

} // namespace

void StartFlashTimer() {
    Timer().Start();
}
void StopFlashTimer() {
    Timer().Stop();
}
bool FlashTimerRunning() {
    return Timer().Running();
}
void EnsureFlashTimer() {
    Timer().Ensure();
}
