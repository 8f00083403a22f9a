#include "console/CDlgFirmwareUpdate.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "console/CXelExecApp.h"
#include "console/CXelExecDlg.h"
#include "console/ConsoleController.h"
#include "console/ConsolePrompts.h"
#include "console/DialogUnits.h"

namespace {

QString latin(const char* text) { return QString::fromLatin1(text); }

// The bar's own words while a download waits for the unit too long.
const char* const kNoProgressFormat = "No progress";

}  // namespace

CDlgFirmwareUpdate::CDlgFirmwareUpdate(CXelExecApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setObjectName(QStringLiteral("firmwareUpdate"));
    setWindowTitle(latin(kCaption));
    setFont(DialogUnits::dialogFont());
    buildControls();

    stallTimer_.setSingleShot(true);
    stallTimer_.setInterval(kStallTimeoutMs);

    connect(browse_, &QPushButton::clicked, this, &CDlgFirmwareUpdate::onBrowse);
    connect(download_, &QPushButton::clicked, this, &CDlgFirmwareUpdate::onDownload);
    connect(done_, &QPushButton::clicked, this, &CDlgFirmwareUpdate::reject);
    connect(&stallTimer_, &QTimer::timeout, this, &CDlgFirmwareUpdate::onStalled);

    // Subscribed for the dialog's life; a dialog without a core only validates names.
    ConsoleController& core = app_.controller();
    connect(&core, &ConsoleController::downloadStateChanged, this, &CDlgFirmwareUpdate::onStateChange);
    connect(&core, &ConsoleController::downloadProgress, this, &CDlgFirmwareUpdate::onProgress);
    core.subscribe();
}

CDlgFirmwareUpdate::~CDlgFirmwareUpdate() {
    stallTimer_.stop();
    app_.controller().unsubscribe();
}

void CDlgFirmwareUpdate::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.size(231, 157));

    instructions_ = new QLabel(latin(kInstructions), this);
    instructions_->setWordWrap(true);
    instructions_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    instructions_->setGeometry(du.rect(7, 7, 217, 34));

    fileName_ = new QLineEdit(this);
    fileName_->setObjectName(QStringLiteral("fileName"));
    fileName_->setGeometry(du.rect(7, 44, 162, 13));
    browse_ = new QPushButton(QStringLiteral("Browse..."), this);
    browse_->setAutoDefault(false);
    browse_->setGeometry(du.rect(174, 43, 50, 14));

    auto* label = new QLabel(QStringLiteral("Status:"), this);
    label->setGeometry(du.rect(7, 61, 50, 8));
    status_ = new QListWidget(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setGeometry(du.rect(7, 71, 217, 50));
    status_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    status_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    status_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    status_->setSelectionMode(QAbstractItemView::SingleSelection);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, kBarMaximum);
    progress_->setValue(0);
    progress_->setTextVisible(true);
    progress_->setGeometry(du.rect(7, 124, 217, 9));

    download_ = new QPushButton(QStringLiteral("Download"), this);
    download_->setDefault(true);
    download_->setGeometry(du.rect(120, 137, 50, 14));
    done_ = new QPushButton(QStringLiteral("Done"), this);
    done_->setAutoDefault(false);
    done_->setGeometry(du.rect(174, 137, 50, 14));
}

QStringList CDlgFirmwareUpdate::statusLines() const {
    QStringList lines;
    for (int i = 0; i < status_->count(); ++i) lines << status_->item(i)->text();
    return lines;
}

void CDlgFirmwareUpdate::addStatus(const char* text) {
    const QString line = latin(text);
    auto* item = new QListWidgetItem(line, status_);
    // The list scrolls across at least its fixed extent, and across any wider line.
    const QFontMetrics fm(status_->font());
    item->setSizeHint(QSize(std::max(kHorizontalExtent, fm.horizontalAdvance(line) + 8), fm.height() + 2));
    status_->setCurrentItem(item);
    status_->scrollToItem(item);
    emit statusAdded(line);
}

void CDlgFirmwareUpdate::setIdle() {
    busy_ = false;
    stalled_ = false;
    stallTimer_.stop();
    progress_->resetFormat();
    download_->setEnabled(true);
    done_->setEnabled(true);
}

void CDlgFirmwareUpdate::onBrowse() {
    const ConsolePrompts::FileRequest request{latin(kHexFilter), QString(), true, false};
    const QString path = app_.prompts().openFileName(this, request);
    if (!path.isEmpty()) fileName_->setText(path);
}

void CDlgFirmwareUpdate::onDownload() {
    // 1.
    busy_ = true;
    download_->setEnabled(false);
    done_->setEnabled(false);
    // 2.
    const QString name = fileName_->text();
    // 3.
    if (name.size() <= 2) {
        addStatus(kInvalidName);
        setIdle();
        return;
    }
    // 4.
    addStatus(kValidating);
    // 5. Without a core there is nothing to check the image with: it is refused.
    ConsoleController& core = app_.controller();
    if (!core.checkFirmwareImage(name)) {
        addStatus(kInvalidImage);
        setIdle();
        return;
    }
    // 6. Only a valid image costs the operator the link.
    disconnectFirst();
    stage_ = -1;
    progress_->resetFormat();
    progress_->setValue(0);
    stallTimer_.start();
    core.startFirmwareDownload();
}

void CDlgFirmwareUpdate::disconnectFirst() {
    ConsoleController& core = app_.controller();
    if (!core.isConnected()) return;
    for (QObject* p = parent(); p; p = p->parent()) {
        if (auto* main = qobject_cast<CXelExecDlg*>(p)) {
            main->disconnectUnit();
            return;
        }
    }
    core.disconnect();
}

void CDlgFirmwareUpdate::onStateChange(LONG state) {
    switch (state) {
        case xel::PICDownloadOpening: addStatus(kWaiting); break;
        case xel::PICDownloadErasing: addStatus(kErasing); break;
        case xel::PICDownloadProgram: addStatus(kProgramming); break;
        case xel::PICDownloadData: addStatus(kWritingData); break;
        case xel::PICDownloadFailed:
            addStatus(kFailed);
            addStatus(kFailedHint);
            setIdle();
            return;
        case xel::PICDownloadComplete:
            addStatus(kCompleted);
            progress_->setValue(kBarMaximum);
            emit progressed(kBarMaximum);
            setIdle();
            return;
        default: return;
    }
    stage_ = state;
    onProgress(0);
}

void CDlgFirmwareUpdate::onProgress(LONG permille) {
    if (!busy_) return;
    // Any report is a finished exchange with the unit: the download is alive.
    if (stalled_) {
        stalled_ = false;
        progress_->resetFormat();
        done_->setEnabled(false);
    }
    stallTimer_.start();
    if (stage_ < xel::PICDownloadErasing || stage_ > xel::PICDownloadData) return;
    // A report taken just as a stage ended may speak of the next one: the bar
    // never runs backwards within a download.
    const int value = (static_cast<int>(stage_) - 1) * 1000 + std::clamp<int>(permille, 0, 1000);
    if (value > progress_->value()) {
        progress_->setValue(value);
        emit progressed(value);
    }
}

void CDlgFirmwareUpdate::onStalled() {
    if (!busy_) return;
    stalled_ = true;
    progress_->setFormat(latin(kNoProgressFormat));
    done_->setEnabled(true);
}

void CDlgFirmwareUpdate::reject() {
    if (!done_->isEnabled()) return;
    QDialog::reject();
}
