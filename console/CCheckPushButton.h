// A push-like check button whose checked state only the program sets: a click
// is reported (clicked()) and changes nothing by itself, so the button shows
// what the unit does, not what was clicked.
//
// Thread safety: GUI thread only.
#pragma once

#include <QPushButton>

class CCheckPushButton : public QPushButton {
    Q_OBJECT

public:
    explicit CCheckPushButton(const QString& text, QWidget* parent = nullptr);

protected:
    void nextCheckState() override {}
};
