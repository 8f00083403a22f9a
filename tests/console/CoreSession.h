// What the console's window tests share: the build's core registered in the
// test's own state folder, an xelsim unit, a core object of the console's own
// application, and prompts that answer without a person.
#pragma once

#include <QMessageBox>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "console/CXelExecApp.h"
#include "console/ConsolePrompts.h"
#include "platform/registry/Registry.h"
#include "tests/support/CoreRegistration.h"
#include "tests/support/Loopback.h"

namespace contest {

// Registers the build's core library unless the test's state folder already has
// it (other tests empty that folder between their cases). "" on success, else
// regsvr's output.
inline QString ensureCoreRegistered() {
    OLECHAR text[40] = {};
    StringFromGUID2(xel::CLSID_Xel, text, 40);
    const std::string key = "CLSID\\" + QString::fromUtf16(text).toStdString() + "\\InprocServer32";
    if (xel::registry::keyExists(xel::registry::Root::ClassesRoot, key)) return QString();
    QProcess regsvr;
    regsvr.setProcessChannelMode(QProcess::MergedChannels);
    regsvr.start(QString::fromStdString(xeltest::binDir() + "/regsvr"),
                 {QString::fromStdString(xeltest::coreLibraryPath())});
    if (!regsvr.waitForFinished(30000) || regsvr.exitStatus() != QProcess::NormalExit || regsvr.exitCode() != 0)
        return QStringLiteral("regsvr failed: ") + QString::fromLocal8Bit(regsvr.readAll());
    return QString();
}

// Stores the connection address the console applies on the first use of a new
// core's connection object.
inline bool storeAddress(const QString& address) {
    return xel::registry::setString(xel::registry::Root::CurrentUser, CXelExecApp::kRegistryKey,
                                    CXelExecApp::kAddressValue, address.toStdString()) == xel::registry::Status::Ok;
}

// Answers every question of the console: message boxes are recorded (and
// answered OK), file dialogs take the next prepared answer ("" = cancelled).
class RecordingPrompts : public ConsolePrompts {
public:
    struct Message {
        QString text;
        QMessageBox::Icon icon;
    };
    std::vector<Message> messages;
    // Called while a message box would be up, to look at the window then.
    std::function<void(const Message&)> onMessage;
    QStringList openAnswers, saveAnswers;
    std::vector<FileRequest> openRequests, saveRequests;

    QMessageBox::StandardButton message(QWidget*, const QString& text, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons, QMessageBox::StandardButton) override {
        messages.push_back({text, icon});
        if (onMessage) onMessage(messages.back());
        return QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const FileRequest& request) override {
        openRequests.push_back(request);
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget*, const FileRequest& request) override {
        saveRequests.push_back(request);
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
};

}  // namespace contest
