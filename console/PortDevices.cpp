#include "console/PortDevices.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>

#include "platform/registry/Registry.h"

namespace {

// n of "COMn" (n >= 1, any case), else 0.
unsigned comNumber(const QString& name) {
  if (name.size() < 4 || !name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) return 0;
  bool ok = false;
  const unsigned n = QStringView(name).mid(3).toUInt(&ok);
  for (const QChar c : QStringView(name).mid(3))
    if (!c.isDigit()) return 0;
  return ok ? n : 0;
}

// The entry of R/ports named `port` (exactly, else ignoring case), or "".
QString mappingFor(const QString& port) {
  const QDir ports(QString::fromStdString((xel::registry::userStateDir() / "ports").string()));
  if (port.isEmpty() || port.contains(u'/') || port == QLatin1String(".") || port == QLatin1String(".."))
    return {};
  // A mapping whose target is gone still names the port (the link driver then
  // fails to open it rather than using another device), so the entry itself counts.
  const QFileInfo exact(ports.filePath(port));
  if (exact.exists() || exact.isSymLink()) return exact.filePath();
  const QStringList entries = ports.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  for (const QString& entry : entries)
    if (entry.compare(port, Qt::CaseInsensitive) == 0) return ports.filePath(entry);
  return {};
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
  } else if (const unsigned n = comNumber(port)) {
    d.path = QStringLiteral("/dev/ttyS%1").arg(n - 1);
    d.present = QFileInfo::exists(d.path);
  }
  return d;
}

QString PortDevices::describe(const QString& port) {
  const Device d = deviceFor(port);
  if (d.path.isEmpty()) return {};
  return d.present ? d.path : QStringLiteral("%1 (not present)").arg(d.path);
}

void PortDevices::showIn(QLabel* label, const QString& port) {
  const QString text = describe(port);
  label->setToolTip(text);
  label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, label->width()));
}
