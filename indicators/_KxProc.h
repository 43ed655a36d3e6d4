#pragma once
// Drawing helpers of the lamps (figures, aligned text, colour resolution) and the flash clock's timer.
#include "KxTypes.h"
#include "LedGeometry.h"

#include <QColor>
#include <QString>

class QPainter;
class QPalette;

// A fixed colour, or a system colour taken from the given palette (button face, shadow, highlight, ...).
QColor ColorToQColor(TColor color, const QPalette& palette);
// The same against the desktop's current palette.
QColor ColorToQColor(TColor color);

// One lamp figure in rect: outlined with OutlineColor, filled with FillColor in the canvas's brush style.
// A round lamp gets its glint and leaves the canvas with the glint's pen.
void DrawLED(QPainter& canvas, const TRect& rect, TLEDShape shape, TColor outlineColor, TColor fillColor);

// Text at a point, aligned by code 0..8 (see LedGeometry::AlignedOrigin); other codes draw at (0, 0).
void AlignedTextOut(QPainter& canvas, int x, int y, const QString& text, int alignment);

// The flash clock's 50 ms periodic timer, ticking on its own thread. Starting twice keeps one timer;
// stopping waits for a running tick to finish, so nothing ticks afterwards.
void StartFlashTimer();
void StopFlashTimer();
bool FlashTimerRunning();
// Starts the timer unless it was stopped on purpose: lamps that begin flashing call this, so a program
// need not start the clock itself, while tests that stop it keep stepping the clock by hand.
void EnsureFlashTimer();
