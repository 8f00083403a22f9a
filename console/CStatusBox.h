// The main window's connection status: a centred text whose colours follow the
// link itself, asked each time the box is painted (not the text it shows):
//   connected:     black on RGB(0,255,0)
//   otherwise:     RGB(255,255,0) on RGB(255,0,0)
//
// Thread safety: GUI thread only.
#pragma once

#include <QLabel>

#include <functional>

class CStatusBox : public QLabel {
    Q_OBJECT

public:
    // `isConnected` is asked on every paint.
    CStatusBox(std::function<bool()> isConnected, QWidget* parent = nullptr);

    static QColor connectedBackground() { return QColor(0, 255, 0); }
    static QColor connectedText() { return QColor(0, 0, 0); }
    static QColor disconnectedBackground() { return QColor(255, 0, 0); }
    static QColor disconnectedText() { return QColor(255, 255, 0); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<bool()> isConnected_;
};
