#include "console/CTrackBar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QWheelEvent>

CTrackBar::CTrackBar(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    setTickPosition(QSlider::NoTicks);
    // Minimum at the top; keys and wheel move the thumb the way they point.
    setInvertedAppearance(true);
    setInvertedControls(true);
    // No page size: PageUp, PageDown and clicks into the groove leave the thumb.
    setPageStep(0);
    setSingleStep(1);
    setTracking(true);
    // A plain groove: the style's filled part would read as a level, and 0 dB
    // sits at the bottom of one slider and the top of the next.
    QPalette pal = palette();
    pal.setColor(QPalette::Highlight, pal.color(QPalette::Button));
    setPalette(pal);
    connect(this, &QAbstractSlider::actionTriggered, this, &CTrackBar::onAction);
    connect(this, &QAbstractSlider::sliderReleased, this, &CTrackBar::onReleased);
}

void CTrackBar::onAction(int action) {
    // Qt announces an action with the new position already in sliderPosition(),
    // before value() follows: the window reads sliderPosition().
    Code code;
    switch (action) {
        case SliderSingleStepAdd: code = LineDown; break;
        case SliderSingleStepSub: code = LineUp; break;
        case SliderPageStepAdd: code = PageDown; break;
        case SliderPageStepSub: code = PageUp; break;
        case SliderToMinimum: code = Top; break;
        case SliderToMaximum: code = Bottom; break;
        case SliderMove:
            // The wheel moves by whole steps as the arrow keys do, not as a drag.
            if (inWheel_)
                code = sliderPosition() < wheelFrom_ ? LineUp : LineDown;
            else
                code = ThumbTrack;
            break;
        default: return;
    }
    moving_ = true;
    emit scrolled(code);
}

void CTrackBar::onReleased() {
    // The drag is over: the thumb's place, then the end of the movement.
    emit scrolled(ThumbPosition);
    moving_ = false;
    emit scrolled(EndScroll);
}

void CTrackBar::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    if (event->isAutoRepeat()) return;
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            moving_ = false;
            emit scrolled(EndScroll);
            break;
        default: break;
    }
}

void CTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    const bool dragging = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    // A drag ended through sliderReleased; a click into the groove ends here.
    if (!dragging && moving_) {
        moving_ = false;
        emit scrolled(EndScroll);
    }
}

void CTrackBar::wheelEvent(QWheelEvent* event) {
    event->accept();
    // Qt's own wheel handling moves at most a page, which is nothing here: the
    // wheel moves by the system's lines of single steps, fractions kept for the
    // next notch. With Ctrl or Shift it would page, and so moves nothing.
    if (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) return;
    const QPoint angle = event->angleDelta();
    int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (event->inverted()) delta = -delta;
    if (invertedControls()) delta = -delta;
    if (wheelLines_ != 0 && (wheelLines_ < 0) != (delta < 0)) wheelLines_ = 0;  // turned back
    wheelLines_ += delta / 120.0 * QApplication::wheelScrollLines() * singleStep();
    const int steps = static_cast<int>(wheelLines_);
    wheelLines_ -= steps;
    if (steps == 0) return;

    moving_ = false;
    inWheel_ = true;
    wheelFrom_ = sliderPosition();
    setSliderPosition(qBound(minimum(), wheelFrom_ + steps, maximum()));
    inWheel_ = false;
    if (moving_) {
        moving_ = false;
        emit scrolled(EndScroll);
    }
}
