// A vertical slider that reports its movements as the classic scroll
// notifications, so the window can act on some kinds and ignore others.
//
// The minimum is at the top (upward means a smaller position, as the unit's
// sliders have always been laid out); the arrow keys and the wheel follow the
// thumb. Every movement is reported with the new position already set:
//   LineUp / LineDown    arrow keys, the wheel
//   PageUp / PageDown    Page keys, a click into the groove (the page size is 0:
//                        these move nothing)
//   Top / Bottom         Home / End
//   ThumbTrack           the thumb being dragged
//   ThumbPosition        the thumb let go (before EndScroll)
//   EndScroll            the end of each movement: a key let go, the mouse let
//                        go, after each wheel step
// No tick marks are drawn.
//
// Thread safety: GUI thread only.
#pragma once

#include <QSlider>

class CTrackBar : public QSlider {
    Q_OBJECT

public:
    enum Code { LineUp, LineDown, PageUp, PageDown, ThumbPosition, ThumbTrack, Top, Bottom, EndScroll };
    Q_ENUM(Code)

    explicit CTrackBar(QWidget* parent = nullptr);

signals:
    void scrolled(CTrackBar::Code code);

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void onAction(int action);
    void onReleased();

    // A press that moved the position and has not yet ended in EndScroll.
    bool moving_ = false;
    // Inside a wheel step, and the position it started from.
    bool inWheel_ = false;
    int wheelFrom_ = 0;
    // Wheel movement not yet worth a whole step.
    double wheelLines_ = 0;
};
