// An IPv4 address field: four parts of 0-255 separated by dots, in one sunken
// box like an edit control.
//
// Typing moves on by itself: a third digit, or a "." or space after at least one
// digit, goes to the next part; Backspace in an empty part and the arrow keys at
// a part's edge go to the neighbour. A part above 255 becomes 255 as it is typed.
//
// The address is a 32-bit number with the first part in the most significant
// byte; a blank part counts as 0 (isComplete() tells a blank part from a 0).
//
// Thread safety: GUI thread only.
#pragma once

#include <QFrame>
#include <QtGlobal>

#include <array>

class QLineEdit;
class QLabel;

class CCtlIPAddress : public QFrame {
    Q_OBJECT

public:
    static constexpr int kParts = 4;

    explicit CCtlIPAddress(QWidget* parent = nullptr);

    quint32 address() const;
    void setAddress(quint32 address);
    // Every part blank.
    void clear();
    bool isBlank() const;
    // No part blank.
    bool isComplete() const;
    // "a.b.c.d", blanks left empty ("192.168..").
    QString text() const;

    // The part's edit box, for focus handling and tests.
    QLineEdit* part(int index) const { return parts_[static_cast<size_t>(index)]; }

signals:
    void addressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int indexOf(const QObject* edit) const;
    void partEdited(int index);
    void moveTo(int index, bool atStart);
    void layoutParts();

    std::array<QLineEdit*, kParts> parts_{};
    std::array<QLabel*, kParts - 1> dots_{};
};
