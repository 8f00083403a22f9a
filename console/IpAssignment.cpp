#include "console/IpAssignment.h"

#include <bit>

#include "console/CommAddress.h"

int IpAssignment::hostBitsOf(quint32 mask) { return mask == 0 ? 33 : std::countr_zero(mask); }

quint32 IpAssignment::canonicalMask(int hostBits) {
    if (hostBits >= 32) return 0;
    if (hostBits <= 0) return 0xFFFFFFFFu;
    return 0xFFFFFFFFu << hostBits;
}

IpAssignment::IpAssignment(xel::IComm* comm, xel::IXel* core)
    : comm_(comm), core_(core), saved_(CommAddress::get(comm)) {}

IpAssignment::~IpAssignment() { finish(); }

xel::CommErr IpAssignment::connect(const QString& port) {
    if (!comm_) return xel::CommErrFailedConnect;
    CommAddress::set(comm_, port);
    xel::CommErr err = xel::CommErrNone;
    const HRESULT hr = comm_->Connect(&err);
    if (FAILED(hr) && err == xel::CommErrNone) return xel::CommErrFailedConnect;
    return err;
}

void IpAssignment::send(quint32 address, int hostBits, quint32 gateway) {
    if (!core_) return;
    (void)core_->SetIP(static_cast<LONG>(address), static_cast<LONG>(hostBits), static_cast<LONG>(gateway));
}

void IpAssignment::finish() {
    if (finished_) return;
    finished_ = true;
    if (!comm_) return;
    (void)comm_->Disconnect();
    CommAddress::set(comm_, saved_);
}
