#include "console/CColorButton.h"

#include <QEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

// The window system's edge width and height for the flat frame.
constexpr int kEdge = 2;

}  // namespace

CColorButton::CColorButton(QWidget* parent) : CColorButton(QString(), parent) {}

CColorButton::CColorButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    disabledBackground_ = disabledBackgroundColor().rgba();
    // The button paints every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CColorButton::~CColorButton() = default;

void CColorButton::setGradient(QRgb top, QRgb bottom) {
    top_ = top;
    bottom_ = bottom;
    update();
}

bool CColorButton::themedDrawing() const {
    return style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) != 0;
}

QStyleOptionButton CColorButton::panelOption() const {
    QStyleOptionButton opt;
    opt.initFrom(this);
    // Only pressed, disabled or normal: no focus or hover looks on these buttons.
    opt.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    opt.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
    // The style's panels fill their rectangle to the edge (they have no
    // transparent margin to make up for), so the panel gets the button's own.
    opt.rect = rect();
    return opt;
}

QRect CColorButton::contentRect() const {
    if (themedDrawing()) {
        const QStyleOptionButton opt = panelOption();
        // One pixel in from the style's content rectangle, so the gradient's extra
        // row above the content stays clear of the panel's frame.
        return style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this).adjusted(1, 1, -1, -1);
    }
    return rect().adjusted(kEdge, kEdge, -kEdge, -kEdge);
}

QRect CColorButton::fillRect() const {
    const QRect c = contentRect();
    return QRect(c.left(), c.top() - 1, c.width(), c.height() + 1);
}

void CColorButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool pressed = isDown();
    const bool disabled = !isEnabled();

    // The area outside the panel shows the parent's background.
    p.fillRect(rect(), palette().color(QPalette::Window));
    if (themedDrawing()) {
        const QStyleOptionButton opt = panelOption();
        style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &p, this);
    } else {
        // The flat frame: one dark line (grey when disabled, doubled when pushed).
        const QPalette& pal = palette();
        p.fillRect(rect(), pal.color(QPalette::Active, QPalette::Button));
        p.setPen(disabled ? pal.color(QPalette::Disabled, QPalette::WindowText)
                          : pal.color(QPalette::Active, QPalette::Shadow));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        if (pressed) {
            p.setPen(pal.color(QPalette::Active, QPalette::Dark));
            p.drawRect(rect().adjusted(1, 1, -2, -2));
        }
    }

    const QRect content = contentRect();
    const QRect fill = fillRect();
    QRgb from = top_;
    QRgb to = bottom_;
    if (pressed) {
        from = bottom_;
        to = top_;
    } else if (disabled) {
        to = disabledBackground_;
    }
    QLinearGradient gradient(QPointF(fill.left(), fill.top()), QPointF(fill.left(), fill.top() + fill.height()));
    gradient.setColorAt(0, QColor::fromRgba(from));
    gradient.setColorAt(1, QColor::fromRgba(to));
    p.fillRect(fill, gradient);

    const QString caption = text();
    if (caption.isEmpty()) return;
    const QRect measured = p.fontMetrics().boundingRect(fill, Qt::AlignCenter, caption);
    p.setClipRect(measured.intersected(content));
    p.setPen(disabled ? disabledTextColor() : textColor());
    p.drawText(measured, Qt::AlignCenter, caption);
}

void CColorButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double click presses the button again.
    mousePressEvent(event);
}

void CColorButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        takeSystemColors(palette());
        disabledBackground_ = disabledBackgroundColor().rgba();
        systemColorsChanged();
        update();
    }
}

void CColorButton::systemColorsChanged() {}
