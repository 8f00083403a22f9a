// The frame log (--log FILE): one JSON object per line, flushed as written, for every
// frame received, every reply sent and every event on the link, so a test can see
// exactly what a host put on the wire.
//
//   {"t":12.5,"dir":"rx","bytes":"70 69 63 76 65 72 0D 89","text":"picver","checksum":"89",
//    "checked":false,"checksum_ok":true}
//   {"t":12.6,"dir":"tx","bytes":"32 09 31 0D 0A 3E","text":"2\t1\r\n>","faults":[]}
//   {"t":40.0,"event":"connect","detail":"127.0.0.1:50312"}
//
// "t" is milliseconds since xelsim started. "text" holds the bytes as Latin-1 characters.
#pragma once

#include "tools/xelsim/Framer.h"
#include "tools/xelsim/UnitModel.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace xelsim {

class JsonLog {
public:
    JsonLog();
    ~JsonLog();
    JsonLog(const JsonLog&) = delete;
    JsonLog& operator=(const JsonLog&) = delete;

    // Without open() the log writes nothing.
    bool open(const std::string& path, std::string& error);

    void received(const Frame& frame, Verdict verdict);
    void sent(const std::string& bytes, const std::vector<std::string>& faults);
    void event(const std::string& name, const std::string& detail = {});

    double elapsedMs() const;

private:
    void write(const std::string& line);
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_;
};

std::string hexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace xelsim
