// "Change Settings": which processor definition the unit works with, and the
// unit's power-on mode, power-on format and film-mode output pulse.
//
// The power-on values are read from the core when the dialog is made; a click on
// one of their radios stores the value in the dialog at once. The pulse radios
// (captioned with the selected definition's format names, hidden where a name
// is empty) are read at OK. OK makes the selected definition current, sends its
// GUID, then ProcessorName, ModePin, PowerOnMode, PowerOnFormat and
// FilmReturnFormat in this order. Cancel sends nothing.
//
// Thread safety: GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <array>

#include "console/CProcessorDef.h"

class CXelExecApp;
class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

class CDlgSettings : public QDialog {
    Q_OBJECT

public:
    static constexpr int kPowerOnFormats = 6;
    // The pulse choice "None / Bypass"; formats are 1-8.
    static constexpr int kNoPulse = 0;

    // Reads the power-on mode and format from the core.
    CDlgSettings(CXelExecApp& app, QWidget* parent);

    // What OK sends (or would send now).
    struct Settings {
        const CProcessorDef* definition = nullptr;
        int powerOnMode = 0;
        int powerOnFormat = 0;
        int filmReturnPin = 0;  // 0: none
    };
    Settings settings() const;

    // The controls, for the window's tests.
    QComboBox* processorList() const { return processors_; }
    QLabel* processorInput() const { return input_; }
    QRadioButton* powerOnModeRadio(int mode) const { return modes_.at(static_cast<size_t>(mode)); }
    QRadioButton* powerOnFormatRadio(int format) const { return powerOnFormats_.at(static_cast<size_t>(format)); }
    // 0 is "None / Bypass", 1-8 the formats.
    QRadioButton* pulseRadio(int choice) const { return pulses_.at(static_cast<size_t>(choice)); }
    // The checked pulse choice (0 for "None / Bypass").
    int pulseChoice() const;
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

public slots:
    void accept() override;

private:
    void build();
    void layOut();
    void connectSignals();
    // Opening: the list, the current definition, the unit's pulse choice, the radios.
    void fillFromUnit();
    // Shows a definition: its mode format as the processor input, its format names
    // on the pulse radios; the pulse choice goes back to "None / Bypass".
    void showDefinition(const CProcessorDef* def);
    const CProcessorDef* selectedDefinition() const;
    void checkPulse(int choice);

    CXelExecApp& app_;
    int powerOnMode_ = 0;
    int powerOnFormat_ = 0;

    QComboBox* processors_ = nullptr;
    QLabel* input_ = nullptr;
    std::array<QRadioButton*, 2> modes_{};
    std::array<QRadioButton*, kPowerOnFormats> powerOnFormats_{};
    std::array<QRadioButton*, CProcessorDef::kFormatCount + 1> pulses_{};
    QButtonGroup* modeGroup_ = nullptr;
    QButtonGroup* powerOnFormatGroup_ = nullptr;
    QButtonGroup* pulseGroup_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
