// The connection object's Address as a QString.
//
// Thread safety: as IComm's (any thread); the dialogs call it on the GUI thread.
#pragma once

#include <QString>

namespace xel {
struct IComm;
}

class CommAddress {
public:
    // "" when there is no connection object or it hands out nothing.
    static QString get(xel::IComm* comm);
    static void set(xel::IComm* comm, const QString& address);
};
