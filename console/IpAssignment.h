// Giving the unit its IP settings over a local link (USB or a serial port): the
// connect, "setip" and disconnect of "Configure IP", without its windows.
//
//   IpAssignment session(comm, core);          // remembers the connection address
//   CommErr r = session.connect("COM1");       // the local port
//   if (r == CommErrNone) session.send(address, hostBits, gateway);
//   // the destructor (or finish()) disconnects and puts the address back
//
// The unit resets after "setip" without answering, so the result of send() says
// nothing about the unit and is not reported.
//
// Thread safety: one object on one thread; it uses the shared connection object.
#pragma once

#include <QString>
#include <QtGlobal>

#include "core/xelor.h"

class IpAssignment {
public:
    // The mask's host part: the number of trailing zero bits, from bit 0 up to the
    // first set bit; 33 for a mask of 0.
    static int hostBitsOf(quint32 mask);
    // All ones shifted left by hostBits (0 when hostBits is 32 or more).
    static quint32 canonicalMask(int hostBits);

    IpAssignment(xel::IComm* comm, xel::IXel* core);
    ~IpAssignment();
    IpAssignment(const IpAssignment&) = delete;
    IpAssignment& operator=(const IpAssignment&) = delete;

    // Points the connection at `port` and connects. A failed call of the object
    // itself counts as CommErrFailedConnect.
    xel::CommErr connect(const QString& port);
    // IXel.SetIP with the address and gateway as 32-bit numbers (first part most
    // significant).
    void send(quint32 address, int hostBits, quint32 gateway);
    // Disconnects and restores the address the connection had before. Once.
    void finish();

private:
    xel::IComm* comm_;
    xel::IXel* core_;
    QString saved_;
    bool finished_ = false;
};
