// An owner-drawn push button filled with a vertical two-colour gradient.
//
// Drawing: with a themed style (any but the classic flat "Windows" style) the
// style's push-button panel (pressed, disabled or normal) fills the button and
// the content rectangle lies one pixel inside the style's; otherwise a flat
// frame is drawn and the content rectangle is the button less the window
// system's edge (2 pixels). The gradient runs top to bottom over the content
// rectangle extended one pixel upwards:
//   pressed:  bottom colour -> top colour (upside down)
//   disabled: top colour -> the disabled background colour
//   else:     top colour -> bottom colour
// The caption is centred in that rectangle and clipped to the content rectangle,
// in the disabled text colour when disabled.
//
// A double click counts as a second press, so two quick clicks are two clicks.
//
// Thread safety: GUI thread only.
#pragma once

#include <QPushButton>
#include <QRgb>

#include "console/CColorControl.h"

class QStyleOptionButton;

class CColorButton : public QPushButton, public CColorControl {
    Q_OBJECT

public:
    explicit CColorButton(QWidget* parent = nullptr);
    explicit CColorButton(const QString& text, QWidget* parent = nullptr);
    ~CColorButton() override;

    // Gradient colours as 32-bit ARGB values.
    void setGradient(QRgb top, QRgb bottom);
    QRgb topColor() const { return top_; }
    QRgb bottomColor() const { return bottom_; }
    QRgb disabledBackground() const { return disabledBackground_; }

    // True when the current style draws themed button panels.
    bool themedDrawing() const;
    // The rectangle inside the frame, for the current size, style and state.
    QRect contentRect() const;
    // The rectangle the gradient fills: the content rectangle and the row above it.
    QRect fillRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The system colours changed (palette or style): subclasses re-derive theirs.
    virtual void systemColorsChanged();

private:
    QStyleOptionButton panelOption() const;

    QRgb top_ = 0;
    QRgb bottom_ = 0;
    QRgb disabledBackground_ = 0;
};
