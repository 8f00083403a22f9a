// The format button of the main window: a gradient push button with two looks.
//
//   normal:      button face -> window colour, button text colour
//   highlighted: window colour -> pure green, button text colour
//     (the format that the active automation pin selects)
//
// The window switches a button between the looks; the button keeps no other
// state. Colours follow the palette when it changes.
//
// Thread safety: GUI thread only.
#pragma once

#include "console/CColorButton.h"

class CCtlFormatButton : public CColorButton {
    Q_OBJECT

public:
    enum class Look { Normal, Highlighted };

    explicit CCtlFormatButton(QWidget* parent = nullptr);
    explicit CCtlFormatButton(const QString& text, QWidget* parent = nullptr);

    // Sets the look's colours and repaints.
    void setLook(Look look);
    Look look() const { return look_; }

protected:
    void systemColorsChanged() override;

private:
    void applyLook();

    Look look_ = Look::Normal;
};
