#include "console/CommAddress.h"

#include "console/AutomationText.h"
#include "core/xelor.h"
#include "platform/objrt/Ptr.h"

QString CommAddress::get(xel::IComm* comm) {
    if (!comm) return {};
    xel::objrt::Bstr text;
    if (comm->get_Address(text.put()) != S_OK) return {};
    return console::fromBstr(text.get());
}

void CommAddress::set(xel::IComm* comm, const QString& address) {
    if (!comm) return;
    const xel::objrt::Bstr text = console::toBstr(address);
    (void)comm->put_Address(text.get());
}
