// TTracePanel: the panel on the main window that shows a trace (one eye or both eyes side by side
// with the DBL between them) on its background colour, with a raised one-pixel bevel.
#pragma once

#include "trace/EyeShape.h"
#include "trace/TraceLayout.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QColor;
class QPainter;
class QRect;
class QSizeF;

// Colours as the settings hold them: 0x00BBGGRR (red in the low byte). A value with 0xFF in the
// high byte is a system colour index, taken from the application's palette (clBtnFace 0xFF00000F
// is the button colour, clBtnShadow 0xFF000010 the dark bevel colour, clWindow 0xFF000005 the
// base, and so on); an index without a palette counterpart is black. Any other high byte is
// ignored. ValueFromColor always gives an RGB value.
QColor ColorFromValue(uint32_t value);
uint32_t ValueFromColor(const QColor& color);

class TTracePanel : public QWidget {
    Q_OBJECT
public:
    explicit TTracePanel(QWidget* parent = nullptr);
    ~TTracePanel() override;

    // Read and written directly; assigning does not repaint (the caller calls update()).
    uint32_t BGColor = 0x808080;   // clGray
    uint32_t FillColor = 0xFFFFFF; // clWhite
    TDrawEyeType DrawEye = deBoth;
    // Off (the default): the drawing fitted to the panel as DrawEye says. On: both eyes with the
    // DBL between them at 1:1 on the screen the panel is on, centred and clipped to the panel,
    // so that a frame or a lens laid on the screen covers its outline.
    bool TrueScale = false;
    std::function<void(QObject* Sender)> OnDrawShape; // at the end of every successful paint
    // A paint that fails keeps its background and reports the message here, once until a paint
    // succeeds or a shape is shown again (paints repeat; one failure is one report).
    std::function<void(const std::string& Message)> OnPaintError;

    // Holds the measured shape and the DBL (mm) and repaints; every paint draws from it. No shape
    // clears the drawing. `left`, the left eye as traced, is drawn by the true-scale view; without
    // it that view mirrors the shape for the left eye, as the fitted view always does.
    void ShowShape(TEyeShapePtr shape, double dbl, TEyeShapePtr left = nullptr);
    // ShowShape of the radii text measured here. An empty text clears the drawing. A malformed
    // text raises the geometry's error and the panel keeps what it showed.
    void ShowTrace(const std::string& radii, double dbl);
    const TEyeShapePtr& Shape() const;
    // The radii text of the shape held; empty without one.
    const std::string& Trace() const;
    double DBL() const { return FDBL; }
    // Pixels per millimetre (horizontal, vertical) on the panel's screen, from its physical
    // resolution; from its logical resolution where the screen does not tell its size.
    QSizeF PixelsPerMm() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintTrueScale(QPainter& painter, const QRect& area);
    void ReportPaintError(const std::string& message);

    struct TState;
    TState* FState; // the shape held
    double FDBL = 0;
};
