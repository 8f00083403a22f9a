#include "console/CStatusBox.h"

#include <QPainter>

CStatusBox::CStatusBox(std::function<bool()> isConnected, QWidget* parent)
    : QLabel(parent), isConnected_(std::move(isConnected)) {
    setAlignment(Qt::AlignCenter);
}

void CStatusBox::paintEvent(QPaintEvent*) {
    const bool connected = isConnected_ && isConnected_();
    QPainter painter(this);
    painter.fillRect(rect(), connected ? connectedBackground() : disconnectedBackground());
    painter.setPen(connected ? connectedText() : disconnectedText());
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}
