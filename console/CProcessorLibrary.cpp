#include "console/CProcessorLibrary.h"

#include <string>
#include <system_error>

CProcessorLibrary::CProcessorLibrary(std::filesystem::path file) : ini_(std::move(file)) {}

xel::ini::Status CProcessorLibrary::seedFrom(const std::filesystem::path& defaultLibrary) {
    using xel::ini::Status;
    std::error_code ec;
    std::string bytes;
    if (std::filesystem::exists(ini_.path(), ec)) {
        // A library that cannot be read is left alone rather than replaced.
        if (xel::ini::readFile(ini_.path(), bytes) != Status::Ok) return Status::IoError;
        if (!ini_.sectionNames().empty()) return Status::Ok;
    }
    if (xel::ini::readFile(defaultLibrary, bytes) == Status::Ok &&
        !xel::ini::IniFile(defaultLibrary).sectionNames().empty())
        return xel::ini::replaceFile(ini_.path(), bytes);
    // No usable installed default either: write the default processor ourselves.
    const Status st = xel::ini::replaceFile(ini_.path(), {});
    if (st != Status::Ok) return st;
    return CProcessorDef::defaultProcessor().save(ini_);
}

void CProcessorLibrary::load() {
    defs_.clear();
    for (const std::u16string& section : ini_.sectionNames()) {
        auto def = std::make_unique<CProcessorDef>();
        def->load(ini_, QString::fromStdU16String(section));
        defs_.push_back(std::move(def));
    }
    if (defs_.empty()) defs_.push_back(std::make_unique<CProcessorDef>(CProcessorDef::defaultProcessor()));
}

int CProcessorLibrary::indexOf(const QUuid& guid) const {
    for (size_t i = 0; i < defs_.size(); ++i)
        if (defs_[i]->guid == guid) return static_cast<int>(i);
    return -1;
}

void CProcessorLibrary::append(std::unique_ptr<CProcessorDef> def) { defs_.push_back(std::move(def)); }

void CProcessorLibrary::removeAt(int index) { defs_.erase(defs_.begin() + index); }

void CProcessorLibrary::clear() { defs_.clear(); }
