#include "console/UnitServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

QStringList argumentsOf(const QString& procDir) {
    QFile file(procDir + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList args;
    for (const QByteArray& part : file.readAll().split('\0')) args << QString::fromLocal8Bit(part);
    if (!args.isEmpty() && args.last().isEmpty()) args.removeLast();
    return args;
}

// The value of `--flag VALUE` or `--flag=VALUE`; `fallback` when absent.
QString optionOf(const QStringList& args, const QString& flag, const QString& fallback = {}) {
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == flag && i + 1 < args.size()) return args[i + 1];
        if (args[i].startsWith(flag + QLatin1Char('='))) return args[i].mid(flag.size() + 1);
    }
    return fallback;
}

// "xeld@NAME.service" when the process lives in that service's cgroup.
QString serviceOf(const QString& procDir) {
    QFile file(procDir + QStringLiteral("/cgroup"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        for (const QString& part : line.split(QLatin1Char('/'))) {
            if (part.startsWith(QLatin1String("xeld@")) && part.endsWith(QLatin1String(".service"))) return part;
        }
    }
    return {};
}

}  // namespace

std::vector<UnitServers::Holder> UnitServers::holdersOf(const QString& address, const QString& procRoot) {
    std::vector<Holder> found;
    const QString wanted = address.trimmed();
    if (wanted.isEmpty()) return found;
    const QDir proc(procRoot);
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const long pid = entry.toLong(&numeric);
        if (!numeric) continue;
        const QString dir = proc.filePath(entry);
        const QStringList args = argumentsOf(dir);
        if (args.isEmpty() || QFileInfo(args[0]).fileName() != QLatin1String("xeld")) continue;
        if (optionOf(args, QStringLiteral("--address")).trimmed().compare(wanted, Qt::CaseInsensitive) != 0) continue;
        found.push_back({pid, optionOf(args, QStringLiteral("--name"), QStringLiteral("xelor")), serviceOf(dir)});
    }
    return found;
}

QString UnitServers::holderAdvice(const QString& address) {
    const std::vector<Holder> holders = holdersOf(address);
    if (holders.empty()) return {};
    const Holder& h = holders.front();
    // The service's own name when systemd runs it; the instance name xeld was
    // given otherwise, as the package's template would run it.
    const QString service = h.service.isEmpty() ? QStringLiteral("xeld@%1").arg(h.name) : h.service;
    QString text = QStringLiteral(
                       "The unit server xeld (process %1) holds the link to %2, and a unit takes one link "
                       "at a time. Stop the xeld@%3 service first (systemctl stop %4)")
                       .arg(h.pid)
                       .arg(address.trimmed(), h.name, service);
    if (h.service.isEmpty()) text += QStringLiteral(", or end that process if it runs outside systemd");
    text += QStringLiteral(", or use the unit through the server: xelctl --server.");
    return text;
}
