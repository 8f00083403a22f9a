#include "console/PortDevices.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>

#include "platform/registry/Registry.h"
#include "xelsys/SerialName.h"

namespace {

// The entry of R/ports named `port` (exactly, else ignoring case), else the
// machine's, or "". A mapping whose target is gone still names the port (the
// link driver then fails to open it rather than using another device).
QString mappingFor(const QString& port) {
    return QString::fromStdString(xel::sys::mappedPort(xel::registry::userStateDir().string(), port.toStdString()));
}

}  // namespace

PortDevices::Device PortDevices::deviceFor(const QString& port) {
    Device d;
    if (const QString entry = mappingFor(port); !entry.isEmpty()) {
        d.mapped = true;
        const QFileInfo info(entry);
        if (info.isSymLink()) {
            // Show the target as the mapping names it (by-id paths say which adapter it is).
            const QString target = info.symLinkTarget();
            d.path = target.isEmpty() ? entry : target;
        } else {
            d.path = entry;
        }
        d.present = info.exists();
    } else if (const std::string com = xel::sys::comPortDevice(port.toStdString()); !com.empty()) {
        d.path = QString::fromStdString(com);
        d.present = QFileInfo::exists(d.path);
    }
    return d;
}

QString PortDevices::describe(const QString& port) {
    const Device d = deviceFor(port);
    if (d.path.isEmpty()) return {};
    return d.present ? d.path : QStringLiteral("%1 (not present)").arg(d.path);
}

QString PortDevices::permissionAdvice(const QString& address) {
    if (!address.contains(QLatin1String("COM")) && !address.contains(QLatin1String("USB"))) return {};
    const std::string denied = xel::sys::deniedDevice(xel::registry::userStateDir().string(), address.toStdString());
    if (denied.empty()) return {};
    QString text = QString::fromStdString(xel::sys::permissionAdvice(denied));
    text[0] = text[0].toUpper();
    return text;
}

void PortDevices::showIn(QLabel* label, const QString& port) {
    const QString text = describe(port);
    label->setToolTip(text);
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, label->width()));
}
