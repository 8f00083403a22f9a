#include "console/RememberedAddresses.h"

#include <string>

#include "console/CXelExecApp.h"
#include "platform/registry/Registry.h"

namespace reg = xel::registry;

namespace {

constexpr int kMaxName = 255;  // the registry's longest key name

std::string subkeyPath(const QString& name) {
    return std::string(CXelExecApp::kRegistryKey) + '\\' + name.toStdString();
}

}  // namespace

bool RememberedAddresses::isValidName(const QString& text) {
    return !text.isEmpty() && text.size() <= kMaxName && !text.contains(u'\\') && !text.contains(QChar(u'\0'));
}

QStringList RememberedAddresses::list() {
    QStringList names;
    for (const std::string& name : reg::subkeys(reg::Root::CurrentUser, CXelExecApp::kRegistryKey))
        names << QString::fromStdString(name);
    return names;
}

RememberedAddresses::Stored RememberedAddresses::insert(const QString& text) {
    Stored result;
    if (!isValidName(text)) return result;
    const std::string path = subkeyPath(text);
    const reg::Status st = reg::edit([&](reg::Editor& ed) {
        result.created = !ed.keyExists(reg::Root::CurrentUser, path);
        return ed.createKey(reg::Root::CurrentUser, path);
    });
    result.ok = st == reg::Status::Ok;
    if (!result.ok) result.created = false;
    return result;
}

RememberedAddresses::Stored RememberedAddresses::replace(const QString& old, const QString& text) {
    Stored result;
    if (!isValidName(text)) return result;
    const std::string oldPath = subkeyPath(old);
    const std::string path = subkeyPath(text);
    const reg::Status st = reg::edit([&](reg::Editor& ed) {
        if (isValidName(old)) {
            const reg::Status s = ed.deleteKey(reg::Root::CurrentUser, oldPath);
            if (s != reg::Status::Ok && s != reg::Status::NotFound) return s;
        }
        result.created = !ed.keyExists(reg::Root::CurrentUser, path);
        return ed.createKey(reg::Root::CurrentUser, path);
    });
    result.ok = st == reg::Status::Ok;
    if (!result.ok) result.created = false;
    return result;
}

bool RememberedAddresses::remove(const QString& text) {
    if (!isValidName(text)) return false;
    const reg::Status st = reg::deleteKey(reg::Root::CurrentUser, subkeyPath(text));
    return st == reg::Status::Ok || st == reg::Status::NotFound;
}

bool RememberedAddresses::storeAddress(const QString& address) {
    return reg::setString(reg::Root::CurrentUser, CXelExecApp::kRegistryKey, CXelExecApp::kAddressValue,
                          address.toStdString()) == reg::Status::Ok;
}
