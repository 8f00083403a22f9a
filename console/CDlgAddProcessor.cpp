#include "console/CDlgAddProcessor.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>

#include "console/CLibraryEditor.h"
#include "console/CXelExecApp.h"
#include "console/ConsolePrompts.h"
#include "console/DialogUnits.h"

namespace {

QString pinText(int pin) { return pin <= 8 ? QString::number(pin) : QStringLiteral("(%1)").arg(pin); }

bool hasLineBreak(const QString& s) { return s.contains(u'\r') || s.contains(u'\n'); }

}  // namespace

CDlgAddProcessor::CDlgAddProcessor(CXelExecApp& app, QWidget* parent) : CDlgAddProcessor(app, parent, nullptr) {}

CDlgAddProcessor::CDlgAddProcessor(CXelExecApp& app, QWidget* parent, CProcessorDef* existing)
    : QDialog(parent), app_(app), existing_(existing) {
    if (!existing_) fresh_ = std::make_unique<CProcessorDef>();
    setObjectName(QStringLiteral("editProcessor"));
    setWindowTitle(QStringLiteral("Edit Processor"));
    setModal(true);
    build();
    layOut();
    fill(existing_ ? *existing_ : *fresh_);
    name_->setFocus();
}

CDlgAddProcessor::~CDlgAddProcessor() = default;

void CDlgAddProcessor::build() {
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("processorName"));
    guid_ = new QLineEdit(this);
    guid_->setObjectName(QStringLiteral("processorGuid"));
    guid_->setReadOnly(true);
    // Shown greyed like any read-only box, so nobody tries to type into it.
    QPalette pal = guid_->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    guid_->setPalette(pal);
    auto* nameLabel = new QLabel(QStringLiteral("Cinema Processor:"), this);
    nameLabel->setObjectName(QStringLiteral("processorNameLabel"));
    nameLabel->setBuddy(name_);
    auto* guidLabel = new QLabel(QStringLiteral("Globally Unique Identifier:"), this);
    guidLabel->setObjectName(QStringLiteral("processorGuidLabel"));

    xelGroup_ = new QButtonGroup(this);
    xelGroup_->setExclusive(true);
    for (int k = 1; k <= CProcessorDef::kFormatCount; ++k) {
        FormatControls& f = formats_[static_cast<size_t>(k - 1)];
        f.group = new QGroupBox(QStringLiteral("Format %1").arg(k), this);
        f.group->setObjectName(QStringLiteral("format%1").arg(k));
        f.name = new QLineEdit(f.group);
        f.name->setObjectName(QStringLiteral("formatName%1").arg(k));
        f.pin = new QComboBox(f.group);
        f.pin->setObjectName(QStringLiteral("formatPin%1").arg(k));
        for (int p = 1; p <= CProcessorDef::kPinCount; ++p) f.pin->addItem(pinText(p));
        f.xel = new QRadioButton(QStringLiteral("Xel"), f.group);
        f.xel->setObjectName(QStringLiteral("formatXel%1").arg(k));
        xelGroup_->addButton(f.xel, k);
        auto* nameLabel = new QLabel(QStringLiteral("Name:"), f.group);
        nameLabel->setObjectName(QStringLiteral("formatNameLabel%1").arg(k));
        nameLabel->setBuddy(f.name);
        auto* pinLabel = new QLabel(QStringLiteral("Automation Pin:"), f.group);
        pinLabel->setObjectName(QStringLiteral("formatPinLabel%1").arg(k));
        pinLabel->setBuddy(f.pin);
    }

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    // Neither OK nor Cancel takes Enter; the invisible default button does, and
    // does nothing with it, so Enter in a name box never closes the dialog.
    ok_->setAutoDefault(false);
    cancel_->setAutoDefault(false);
    hiddenDefault_ = new QPushButton(QStringLiteral("Button1"), this);
    hiddenDefault_->setObjectName(QStringLiteral("Button1"));
    hiddenDefault_->setAutoDefault(false);
    hiddenDefault_->setDefault(true);
    hiddenDefault_->setFocusPolicy(Qt::NoFocus);
    hiddenDefault_->hide();

    connect(ok_, &QPushButton::clicked, this, &CDlgAddProcessor::accept);
    connect(cancel_, &QPushButton::clicked, this, &CDlgAddProcessor::reject);
}

void CDlgAddProcessor::layOut() {
    setFont(DialogUnits::dialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(322, 258));
    const QList<QLabel*> labels = findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    for (QLabel* l : labels) {
        if (l->buddy() == name_)
            l->setGeometry(du.rect(7, 9, 90, 8));
        else
            l->setGeometry(du.rect(7, 26, 90, 8));
    }
    name_->setGeometry(du.rect(100, 7, 215, 13));
    guid_->setGeometry(du.rect(100, 24, 215, 13));

    for (int k = 1; k <= CProcessorDef::kFormatCount; ++k) {
        const FormatControls& f = formats_[static_cast<size_t>(k - 1)];
        const int column = (k - 1) % 2;
        const int row = (k - 1) / 2;
        f.group->setGeometry(du.rect(7 + 157 * column, 44 + 47 * row, 151, 44));
        for (QLabel* l : f.group->findChildren<QLabel*>()) {
            if (l->buddy() == f.name)
                l->setGeometry(du.rect(7, 16, 26, 8));
            else
                l->setGeometry(du.rect(7, 31, 52, 8));
        }
        f.name->setGeometry(du.rect(36, 14, 108, 13));
        f.pin->setGeometry(du.rect(60, 29, 36, 13));
        f.xel->setGeometry(du.rect(106, 30, 38, 10));
    }

    ok_->setGeometry(du.rect(211, 237, 50, 14));
    cancel_->setGeometry(du.rect(265, 237, 50, 14));
    hiddenDefault_->setGeometry(du.rect(7, 237, 50, 14));
}

void CDlgAddProcessor::fill(const CProcessorDef& def) {
    name_->setText(def.name);
    guid_->setText(CProcessorDef::guidToText(def.guid));
    for (int k = 1; k <= CProcessorDef::kFormatCount; ++k) {
        const FormatControls& f = formats_[static_cast<size_t>(k - 1)];
        f.name->setText(def.formatNames[static_cast<size_t>(k - 1)]);
        f.pin->setCurrentIndex(def.firstPinFor(k) - 1);  // -1: no pin selects format k
    }
    // An exclusive group keeps one button checked; to show none it is opened briefly.
    xelGroup_->setExclusive(false);
    for (const FormatControls& f : formats_) f.xel->setChecked(false);
    xelGroup_->setExclusive(true);
    if (def.modePin >= 1 && def.modePin <= CProcessorDef::kPinCount) {
        const int modeFormat = def.pinFormat[def.modePin - 1u];
        if (modeFormat >= 1 && modeFormat <= CProcessorDef::kFormatCount)
            formats_[static_cast<size_t>(modeFormat - 1)].xel->setChecked(true);
    }
}

CProcessorDef CDlgAddProcessor::edited(const CProcessorDef& base) const {
    CProcessorDef def = base;
    def.name = CLibraryEditor::cleanName(name_->text());
    def.pinFormat.fill(0);
    // In format order, so a higher format overwrites a lower one on a shared pin.
    for (int k = 1; k <= CProcessorDef::kFormatCount; ++k) {
        const FormatControls& f = formats_[static_cast<size_t>(k - 1)];
        // Trimmed as the library file trims its values, so what is kept is what reloads.
        def.formatNames[static_cast<size_t>(k - 1)] = f.name->text().trimmed();
        const int j = f.pin->currentIndex();
        if (j < 0 || j >= CProcessorDef::kPinCount) continue;
        def.pinFormat[static_cast<size_t>(j)] = static_cast<quint8>(k);
        if (f.xel->isChecked()) def.modePin = static_cast<quint8>(j + 1);
    }
    return def;
}

void CDlgAddProcessor::showProblem(const QString& text, QWidget* focus) {
    app_.prompts().message(this, text, QMessageBox::Warning);
    focus->setFocus();
}

void CDlgAddProcessor::accept() {
    CLibraryEditor editor(app_.library());
    const QString name = CLibraryEditor::cleanName(name_->text());
    if (const auto check = editor.checkName(name, existing_); check != CLibraryEditor::NameCheck::Ok) {
        showProblem(CLibraryEditor::describe(check, name), name_);
        return;
    }
    for (int k = 1; k <= CProcessorDef::kFormatCount; ++k) {
        // A line break would start a line of its own in the library file.
        QLineEdit* edit = formats_[static_cast<size_t>(k - 1)].name;
        if (hasLineBreak(edit->text().trimmed())) {
            showProblem(QStringLiteral("The name of Format %1 must fit on one line.").arg(k), edit);
            return;
        }
    }

    if (existing_) {
        if (const QString error = editor.store(*existing_, edited(*existing_)); !error.isEmpty()) {
            showProblem(error, name_);
            return;
        }
        saved_ = existing_;
    } else {
        auto def = std::make_unique<CProcessorDef>(edited(*fresh_));
        CProcessorDef* added = def.get();
        if (const QString error = editor.add(std::move(def)); !error.isEmpty()) {
            showProblem(error, name_);
            return;
        }
        fresh_.reset();
        saved_ = added;
    }
    QDialog::accept();
}
