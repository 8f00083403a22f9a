#include "console/CColorControl.h"

#include <QGuiApplication>

CColorControl::CColorControl() {
    const QPalette palette = QGuiApplication::palette();
    textColor_ = palette.color(QPalette::Active, QPalette::ButtonText);
    takeSystemColors(palette);
}

void CColorControl::takeSystemColors(const QPalette& palette) {
    disabledTextColor_ = palette.color(QPalette::Disabled, QPalette::ButtonText);
    disabledBackground_ = palette.color(QPalette::Active, QPalette::Button);
}
