// Which unit server (xeld) holds a unit's link on this machine, so a connect
// that fails can tell the operator which service to stop.
//
// A running xeld names its unit on its command line (--address ADDRESS, and
// --name NAME, "xelor" when not given); under systemd it runs in the cgroup
// of its service, xeld@NAME.service. Both are read from /proc: no network, no
// privileges, and a server another user runs is found too.
//
// Thread safety: any thread; every call looks at /proc afresh.
#pragma once

#include <QString>
#include <vector>

class UnitServers {
public:
    struct Holder {
        long pid = 0;
        QString name;     // --name, "xelor" when not given
        QString service;  // "xeld@NAME.service" when systemd runs it, else ""
    };

    // The xeld processes whose --address is `address` (compared ignoring case
    // and surrounding blanks, as the link driver compares port names).
    static std::vector<Holder> holdersOf(const QString& address, const QString& procRoot = QStringLiteral("/proc"));
    // A sentence for the failed connect: which server holds the unit and how to
    // stop it; "" when none does.
    static QString holderAdvice(const QString& address);
};
