#include "console/CCtlIPAddress.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

#include <algorithm>

namespace {

constexpr int kMaxPart = 255;

}  // namespace

CCtlIPAddress::CCtlIPAddress(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);

    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < kParts; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("part%1").arg(i));
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setMaxLength(3);
        edit->setValidator(digits);
        edit->setBackgroundRole(QPalette::Base);
        // Tab enters the field at its first part and leaves it from any part, as
        // one control; the other parts take the focus by typing, arrows or a click.
        if (i > 0) edit->setFocusPolicy(Qt::ClickFocus);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { partEdited(i); });
        connect(edit, &QLineEdit::textChanged, this, &CCtlIPAddress::addressChanged);
        parts_[static_cast<size_t>(i)] = edit;
        if (i < kParts - 1) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dots_[static_cast<size_t>(i)] = dot;
        }
    }
    setFocusProxy(parts_[0]);
    setFocusPolicy(Qt::StrongFocus);
}

quint32 CCtlIPAddress::address() const {
    quint32 value = 0;
    for (const QLineEdit* edit : parts_) value = (value << 8) | static_cast<quint32>(edit->text().toUInt() & 0xFF);
    return value;
}

void CCtlIPAddress::setAddress(quint32 address) {
    for (int i = 0; i < kParts; ++i)
        parts_[static_cast<size_t>(i)]->setText(QString::number((address >> (8 * (kParts - 1 - i))) & 0xFF));
}

void CCtlIPAddress::clear() {
    for (QLineEdit* edit : parts_) edit->clear();
}

bool CCtlIPAddress::isBlank() const {
    for (const QLineEdit* edit : parts_)
        if (!edit->text().isEmpty()) return false;
    return true;
}

bool CCtlIPAddress::isComplete() const {
    for (const QLineEdit* edit : parts_)
        if (edit->text().isEmpty()) return false;
    return true;
}

QString CCtlIPAddress::text() const {
    QStringList texts;
    for (const QLineEdit* edit : parts_) texts << edit->text();
    return texts.join(u'.');
}

int CCtlIPAddress::indexOf(const QObject* edit) const {
    for (int i = 0; i < kParts; ++i)
        if (parts_[static_cast<size_t>(i)] == edit) return i;
    return -1;
}

void CCtlIPAddress::partEdited(int index) {
    QLineEdit* edit = parts_[static_cast<size_t>(index)];
    if (edit->text().toUInt() > kMaxPart) edit->setText(QString::number(kMaxPart));
    // A full part with the cursor at its end is done: on to the next one.
    if (edit->text().size() == 3 && edit->cursorPosition() == 3 && index < kParts - 1) moveTo(index + 1, true);
}

void CCtlIPAddress::moveTo(int index, bool atStart) {
    QLineEdit* edit = parts_[static_cast<size_t>(index)];
    edit->setFocus(Qt::OtherFocusReason);
    if (atStart)
        edit->selectAll();
    else
        edit->setCursorPosition(static_cast<int>(edit->text().size()));
}

bool CCtlIPAddress::eventFilter(QObject* watched, QEvent* event) {
    const int index = indexOf(watched);
    if (index < 0 || event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const QLineEdit* edit = parts_[static_cast<size_t>(index)];
    const int cursor = edit->cursorPosition();
    const bool atStart = cursor == 0 && !edit->hasSelectedText();
    const bool atEnd = cursor == edit->text().size() && !edit->hasSelectedText();
    switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            // A separator after a number finishes the part; on a blank part it is ignored.
            if (!edit->text().isEmpty() && index < kParts - 1) moveTo(index + 1, true);
            return true;
        case Qt::Key_Backspace:
            if (atStart && index > 0) {
                moveTo(index - 1, false);
                return true;
            }
            break;
        case Qt::Key_Left:
            if (atStart && index > 0) {
                moveTo(index - 1, false);
                return true;
            }
            break;
        case Qt::Key_Right:
            if (atEnd && index < kParts - 1) {
                moveTo(index + 1, true);
                parts_[static_cast<size_t>(index + 1)]->setCursorPosition(0);
                return true;
            }
            break;
        default: break;
    }
    return QFrame::eventFilter(watched, event);
}

void CCtlIPAddress::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    layoutParts();
}

void CCtlIPAddress::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) layoutParts();
}

void CCtlIPAddress::layoutParts() {
    const QRect inner = contentsRect();
    const int dotWidth = fontMetrics().horizontalAdvance(QLatin1Char('.')) + 2;
    const int partWidth = std::max(1, (inner.width() - dotWidth * (kParts - 1)) / kParts);
    int x = inner.left();
    for (int i = 0; i < kParts; ++i) {
        parts_[static_cast<size_t>(i)]->setGeometry(x, inner.top(), partWidth, inner.height());
        x += partWidth;
        if (i < kParts - 1) {
            dots_[static_cast<size_t>(i)]->setGeometry(x, inner.top(), dotWidth, inner.height());
            x += dotWidth;
        }
    }
}
