#include "console/CCheckPushButton.h"

CCheckPushButton::CCheckPushButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setCheckable(true);
    setAutoDefault(false);
}
