#include "tools/xelsim/JsonLog.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>

namespace xelsim {

namespace {

// Bytes as Latin-1 text in UTF-8, so every byte value survives the JSON round trip.
std::string latin1(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string hexByte(std::uint8_t b) {
    static const char* digits = "0123456789ABCDEF";
    return {digits[b >> 4], digits[b & 0xF]};
}

// The machine's monotonic clock in ms, the clock every local process shares, so
// a benchmark can set a frame beside what it saw itself.
double monotonicMs() {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<double>(us.count()) / 1000.0;
}

}  // namespace

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out.push_back(' ');
        out += hexByte(bytes[i]);
    }
    return out;
}

JsonLog::JsonLog() : start_(std::chrono::steady_clock::now()) {}

JsonLog::~JsonLog() {
    if (file_) std::fclose(file_);
}

bool JsonLog::open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "we");
    if (!file_) {
        error = "cannot create log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

double JsonLog::elapsedMs() const {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_);
    return static_cast<double>(us.count() / 100) / 10.0;
}

void JsonLog::write(const std::string& line) {
    if (!file_) return;
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

void JsonLog::received(const Frame& frame, Verdict verdict) {
    if (!file_) return;
    nlohmann::json j;
    j["t"] = elapsedMs();
    j["mono"] = monotonicMs();
    j["dir"] = "rx";
    j["bytes"] = hexBytes(frame.bytes());
    j["text"] = latin1(frame.text);
    j["checksum"] = hexByte(frame.checksum);
    j["checked"] = verdict != Verdict::Unchecked;
    j["checksum_ok"] = frame.checksumMatches();
    if (frame.overflow) j["overflow"] = true;
    write(j.dump());
}

void JsonLog::sent(const std::string& bytes, const std::vector<std::string>& faults) {
    if (!file_) return;
    nlohmann::json j;
    j["t"] = elapsedMs();
    j["mono"] = monotonicMs();
    j["dir"] = "tx";
    j["bytes"] = hexBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    j["text"] = latin1(bytes);
    j["faults"] = faults;
    write(j.dump());
}

void JsonLog::event(const std::string& name, const std::string& detail) {
    if (!file_) return;
    nlohmann::json j;
    j["t"] = elapsedMs();
    j["event"] = name;
    if (!detail.empty()) j["detail"] = latin1(detail);
    write(j.dump());
}

}  // namespace xelsim
