#include "console/CCtlFormatButton.h"

CCtlFormatButton::CCtlFormatButton(QWidget* parent) : CCtlFormatButton(QString(), parent) {}

CCtlFormatButton::CCtlFormatButton(const QString& text, QWidget* parent) : CColorButton(text, parent) { applyLook(); }

void CCtlFormatButton::setLook(Look look) {
    look_ = look;
    applyLook();
}

void CCtlFormatButton::systemColorsChanged() { applyLook(); }

void CCtlFormatButton::applyLook() {
    const QPalette& pal = palette();
    const QRgb face = pal.color(QPalette::Active, QPalette::Button).rgb();  // opaque
    const QRgb window = pal.color(QPalette::Active, QPalette::Base).rgb();
    setTextColor(pal.color(QPalette::Active, QPalette::ButtonText));
    if (look_ == Look::Highlighted)
        setGradient(window, qRgb(0, 255, 0));
    else
        setGradient(face, window);
}
