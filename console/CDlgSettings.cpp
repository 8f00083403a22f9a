#include "console/CDlgSettings.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "console/CXelExecApp.h"
#include "console/ConsoleController.h"
#include "console/DialogUnits.h"

namespace {

// Radio captions by value; the radios sit in two columns, read downwards.
constexpr const char* kPowerOnFormatNames[CDlgSettings::kPowerOnFormats] = {"Analog 2ch", "Analog 6ch", "AES/EBU",
                                                                            "Toslink",    "COAX 1",     "COAX 2"};

const CProcessorDef* definitionOf(const QComboBox* list, int index) {
    if (index < 0) return nullptr;
    return reinterpret_cast<const CProcessorDef*>(list->itemData(index).value<quintptr>());
}

// The format (1-8) a definition's pin selects, 0 for none or a pin out of range.
int formatOfPin(const CProcessorDef& def, int pin) {
    if (pin < 1 || pin > CProcessorDef::kPinCount) return 0;
    const int f = def.pinFormat[static_cast<size_t>(pin - 1)];
    return f >= 1 && f <= CProcessorDef::kFormatCount ? f : 0;
}

// Checks the radio with that id, or none when no radio has it.
void checkOnly(QButtonGroup* group, int id) {
    if (QAbstractButton* b = group->button(id)) {
        b->setChecked(true);
        return;
    }
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}

}  // namespace

CDlgSettings::CDlgSettings(CXelExecApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setObjectName(QStringLiteral("changeSettings"));
    setWindowTitle(QStringLiteral("Change Settings"));
    setModal(true);
    // Read before the window opens; the radios change these values, OK sends them.
    ConsoleController& unit = app_.controller();
    if (const std::optional<LONG> mode = unit.powerOnMode()) powerOnMode_ = *mode;
    if (const std::optional<LONG> format = unit.powerOnFormat()) powerOnFormat_ = *format;
    build();
    layOut();
    connectSignals();
    fillFromUnit();
}

void CDlgSettings::build() {
    auto* listLabel = new QLabel(QStringLiteral("Cinema Processor"), this);
    listLabel->setObjectName(QStringLiteral("processorListLabel"));
    processors_ = new QComboBox(this);
    processors_->setObjectName(QStringLiteral("processorList"));
    listLabel->setBuddy(processors_);
    auto* inputLabel = new QLabel(QStringLiteral("Processor Input:"), this);
    inputLabel->setObjectName(QStringLiteral("processorInputLabel"));
    input_ = new QLabel(QStringLiteral("(mode)"), this);
    input_->setObjectName(QStringLiteral("processorInput"));

    auto* modeBox = new QGroupBox(QStringLiteral("Power On Mode"), this);
    modeBox->setObjectName(QStringLiteral("powerOnMode"));
    modeGroup_ = new QButtonGroup(this);
    modes_[0] = new QRadioButton(QStringLiteral("Film / Bypass"), modeBox);
    modes_[1] = new QRadioButton(QStringLiteral("Digital"), modeBox);
    for (int m = 0; m < 2; ++m) {
        modes_[static_cast<size_t>(m)]->setObjectName(QStringLiteral("powerOnMode%1").arg(m));
        modeGroup_->addButton(modes_[static_cast<size_t>(m)], m);
    }

    auto* formatBox = new QGroupBox(QStringLiteral("Xel Power On Format"), this);
    formatBox->setObjectName(QStringLiteral("powerOnFormat"));
    powerOnFormatGroup_ = new QButtonGroup(this);
    for (int v = 0; v < kPowerOnFormats; ++v) {
        auto* radio = new QRadioButton(QString::fromLatin1(kPowerOnFormatNames[v]), formatBox);
        radio->setObjectName(QStringLiteral("powerOnFormat%1").arg(v));
        powerOnFormats_[static_cast<size_t>(v)] = radio;
        powerOnFormatGroup_->addButton(radio, v);
    }

    auto* pulseBox = new QGroupBox(QStringLiteral("Film Mode Output Pulse"), this);
    pulseBox->setObjectName(QStringLiteral("filmModeOutputPulse"));
    pulseGroup_ = new QButtonGroup(this);
    for (int c = 0; c <= CProcessorDef::kFormatCount; ++c) {
        const QString caption = c == kNoPulse ? QStringLiteral("None / Bypass") : QStringLiteral("Format%1").arg(c);
        auto* radio = new QRadioButton(caption, pulseBox);
        radio->setObjectName(QStringLiteral("pulse%1").arg(c));
        pulses_[static_cast<size_t>(c)] = radio;
        pulseGroup_->addButton(radio, c);
    }

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
}

void CDlgSettings::layOut() {
    setFont(DialogUnits::dialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(195, 274));
    findChild<QLabel*>(QStringLiteral("processorListLabel"))->setGeometry(du.rect(7, 7, 100, 8));
    processors_->setGeometry(du.rect(7, 17, 181, 13));
    findChild<QLabel*>(QStringLiteral("processorInputLabel"))->setGeometry(du.rect(7, 35, 58, 8));
    input_->setGeometry(du.rect(66, 35, 122, 8));

    findChild<QGroupBox*>(QStringLiteral("powerOnMode"))->setGeometry(du.rect(7, 48, 181, 30));
    modes_[0]->setGeometry(du.rect(7, 15, 80, 10));
    modes_[1]->setGeometry(du.rect(93, 15, 80, 10));

    findChild<QGroupBox*>(QStringLiteral("powerOnFormat"))->setGeometry(du.rect(7, 82, 181, 54));
    for (int v = 0; v < kPowerOnFormats; ++v)
        powerOnFormats_[static_cast<size_t>(v)]->setGeometry(du.rect(7 + 86 * (v / 3), 15 + 12 * (v % 3), 80, 10));

    findChild<QGroupBox*>(QStringLiteral("filmModeOutputPulse"))->setGeometry(du.rect(7, 140, 181, 110));
    for (int c = 0; c <= CProcessorDef::kFormatCount; ++c)
        pulses_[static_cast<size_t>(c)]->setGeometry(du.rect(7, 14 + 10 * c, 167, 10));

    ok_->setGeometry(du.rect(84, 254, 50, 14));
    cancel_->setGeometry(du.rect(138, 254, 50, 14));
}

void CDlgSettings::connectSignals() {
    connect(processors_, &QComboBox::currentIndexChanged, this,
            [this](int index) { showDefinition(definitionOf(processors_, index)); });
    connect(modeGroup_, &QButtonGroup::idClicked, this, [this](int id) { powerOnMode_ = id; });
    connect(powerOnFormatGroup_, &QButtonGroup::idClicked, this, [this](int id) { powerOnFormat_ = id; });
    connect(ok_, &QPushButton::clicked, this, &CDlgSettings::accept);
    connect(cancel_, &QPushButton::clicked, this, &CDlgSettings::reject);
}

void CDlgSettings::fillFromUnit() {
    const QSignalBlocker quiet(processors_);
    CProcessorLibrary& library = app_.library();
    for (int i = 0; i < library.size(); ++i)
        processors_->addItem(library.at(i).name, QVariant::fromValue(reinterpret_cast<quintptr>(&library.at(i))));

    const CProcessorDef& current = app_.lookUpCurrentDefinition();
    processors_->setCurrentIndex(processors_->findData(QVariant::fromValue(reinterpret_cast<quintptr>(&current))));
    showDefinition(&current);

    checkPulse(formatOfPin(current, app_.controller().filmReturnPin()));
    checkOnly(modeGroup_, powerOnMode_);
    checkOnly(powerOnFormatGroup_, powerOnFormat_);
}

void CDlgSettings::showDefinition(const CProcessorDef* def) {
    if (!def) return;
    const int modeFormat = formatOfPin(*def, def->modePin);
    input_->setText(modeFormat ? def->formatNames[static_cast<size_t>(modeFormat - 1)] : QString());
    for (int k = 1; k <= CProcessorDef::kFormatCount; ++k) {
        QRadioButton* radio = pulses_[static_cast<size_t>(k)];
        const QString& name = def->formatNames[static_cast<size_t>(k - 1)];
        radio->setText(name);
        radio->setVisible(!name.isEmpty());
    }
    checkPulse(kNoPulse);
}

void CDlgSettings::checkPulse(int choice) { checkOnly(pulseGroup_, choice); }

int CDlgSettings::pulseChoice() const {
    const int id = pulseGroup_->checkedId();
    return id < 0 ? kNoPulse : id;
}

const CProcessorDef* CDlgSettings::selectedDefinition() const {
    return definitionOf(processors_, processors_->currentIndex());
}

CDlgSettings::Settings CDlgSettings::settings() const {
    Settings s;
    s.definition = selectedDefinition();
    s.powerOnMode = powerOnMode_;
    s.powerOnFormat = powerOnFormat_;
    const int choice = pulseChoice();
    s.filmReturnPin = (s.definition && choice != kNoPulse) ? s.definition->firstPinFor(choice) : 0;
    return s;
}

void CDlgSettings::accept() {
    const Settings s = settings();
    ConsoleController& unit = app_.controller();
    if (s.definition) unit.sendDefinition(*s.definition);
    unit.sendPowerOnSettings(s.powerOnMode, s.powerOnFormat, s.filmReturnPin);
    QDialog::accept();
}
