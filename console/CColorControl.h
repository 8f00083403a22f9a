// The colours a colour control draws with besides its own: the text colour and
// the looks of the disabled state (grey text on the button face), taken from the
// system palette.
//
// Thread safety: GUI thread only.
#pragma once

#include <QColor>
#include <QPalette>

class CColorControl {
public:
    CColorControl();
    virtual ~CColorControl() = default;

    QColor textColor() const { return textColor_; }
    void setTextColor(const QColor& c) { textColor_ = c; }
    QColor disabledTextColor() const { return disabledTextColor_; }
    QColor disabledBackgroundColor() const { return disabledBackground_; }

protected:
    // Takes the disabled looks from a palette: its grey text and its button face.
    void takeSystemColors(const QPalette& palette);

private:
    QColor textColor_;
    QColor disabledTextColor_;
    QColor disabledBackground_;
};
