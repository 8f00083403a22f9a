// "Edit Processor": one definition's name, its GUID (read only), and for each of
// the eight formats a name, the automation pin that selects it and the "Xel"
// radio of the format that carries the unit's own sound (the mode pin).
//
// OK rebuilds the pin table from the eight pin lists: when two formats choose the
// same pin the higher format wins it; the mode pin becomes the pin of the format
// whose "Xel" radio is checked (unchanged when that format has no pin). The name
// must be non-empty, on one line, without "]", and not the name of another
// definition (ignoring case, as the library file compares sections); otherwise
// OK says why and the dialog stays open. The definition is then written to the
// library file at once (a new one is also appended to the library). Cancel
// changes nothing.
//
// Enter does not close the dialog: neither OK nor Cancel is the default button.
//
// Thread safety: GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <memory>

#include "console/CProcessorDef.h"

class CXelExecApp;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CDlgAddProcessor : public QDialog {
    Q_OBJECT

public:
    // For a new definition.
    CDlgAddProcessor(CXelExecApp& app, QWidget* parent);
    // For an existing definition of the library.
    CDlgAddProcessor(CXelExecApp& app, QWidget* parent, CProcessorDef* existing);
    ~CDlgAddProcessor() override;

    // After OK: the definition as saved (for a new one, the library's new entry).
    CProcessorDef* definition() const { return saved_; }
    bool isNew() const { return existing_ == nullptr; }

    // The controls, for the window's tests.
    QLineEdit* nameEdit() const { return name_; }
    QLineEdit* guidEdit() const { return guid_; }
    QLineEdit* formatNameEdit(int format) const { return formats_.at(static_cast<size_t>(format - 1)).name; }
    QComboBox* pinList(int format) const { return formats_.at(static_cast<size_t>(format - 1)).pin; }
    QRadioButton* xelRadio(int format) const { return formats_.at(static_cast<size_t>(format - 1)).xel; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    // Builds the definition the controls describe on top of `base`.
    CProcessorDef edited(const CProcessorDef& base) const;

public slots:
    void accept() override;

private:
    struct FormatControls {
        QGroupBox* group = nullptr;
        QLineEdit* name = nullptr;
        QComboBox* pin = nullptr;
        QRadioButton* xel = nullptr;
    };

    void build();
    void layOut();
    void fill(const CProcessorDef& def);
    void showProblem(const QString& text, QWidget* focus);

    CXelExecApp& app_;
    CProcessorDef* existing_;
    std::unique_ptr<CProcessorDef> fresh_;  // the new definition until OK hands it to the library
    CProcessorDef* saved_ = nullptr;

    QLineEdit* name_ = nullptr;
    QLineEdit* guid_ = nullptr;
    std::array<FormatControls, CProcessorDef::kFormatCount> formats_{};
    QButtonGroup* xelGroup_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* hiddenDefault_ = nullptr;
};
