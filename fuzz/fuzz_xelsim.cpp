// The unit in software meeting any byte stream a host may send: frames cut from
// it in reads of any size, each command run by the unit model, and each reply
// taken in by the connection's own reply handling, as a real exchange would.
//
// Input: [4 read sizes][the bytes from the host].
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/connection/Reply.h"
#include "fuzz/FuzzSupport.h"
#include "platform/codepage/CodePage.h"
#include "tools/xelsim/Eeprom.h"
#include "tools/xelsim/Framer.h"
#include "tools/xelsim/UnitModel.h"

namespace {

using xel::fuzz::Chunker;
using xel::fuzz::Input;
using xelsim::Frame;
using xelsim::Framer;
using xelsim::Reply;
using xelsim::UnitModel;

bool sameFrame(const Frame& a, const Frame& b) {
    return a.text == b.text && a.checksum == b.checksum && a.overflow == b.overflow;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ') ++i;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

// An argument as the C library reads hexadecimal; only plain digits count here.
bool hexArg(const std::string& w, uint32_t& v) {
    if (w.empty() || w.size() > 8 || w.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    v = static_cast<uint32_t>(std::strtoul(w.c_str(), nullptr, 16));
    return true;
}

// The host takes a reply byte by byte as it may arrive: it must complete exactly
// at its last byte, fit the host's buffer, and be judged as the unit meant it.
void checkAsHostSeesIt(const Reply& reply) {
    xel::core::ReplyCollector collector;
    for (size_t i = 0; i < reply.bytes.size(); ++i) {
        FUZZ_CHECK(!collector.full());
        FUZZ_CHECK(!collector.complete());
        *collector.freeSpace() = reply.bytes[i];
        collector.added(1);
    }
    FUZZ_CHECK(collector.complete());
    const std::u16string text = xel::cp::toUtf16(collector.bytes());
    FUZZ_CHECK(xel::core::isRefusal(text) == reply.refused);
}

// "rdeep N A" hands out the N + 1 bytes at A, as the host reads them back.
void checkRead(const std::vector<std::string>& w, const Reply& reply, const UnitModel& unit) {
    uint32_t n = 0, a = 0;
    if (w.size() != 3 || !hexArg(w[1], n) || !hexArg(w[2], a)) return;
    FUZZ_CHECK(a + n + 1 <= xelsim::kEepromSize);
    std::vector<LONG> values(n + 1, -1);
    xel::core::parseHexValues(xel::cp::toUtf16(reply.bytes), static_cast<int>(n + 1), values.data());
    for (uint32_t i = 0; i <= n; ++i) FUZZ_CHECK(values[i] == unit.eeprom()[a + i]);
}

// "wreep A B..." stores every byte or, refused, none.
void checkWrite(const std::vector<std::string>& w, const Reply& reply, const xelsim::EepromImage& before,
                const UnitModel& unit) {
    if (reply.refused) {
        FUZZ_CHECK(unit.eeprom() == before);
        return;
    }
    uint32_t a = 0;
    FUZZ_CHECK(hexArg(w[1], a));
    xelsim::EepromImage expected = before;
    for (size_t i = 2; i < w.size(); ++i) {
        uint32_t b = 0;
        FUZZ_CHECK(hexArg(w[i], b) && b <= 0xFF && a + i - 2 < xelsim::kEepromSize);
        expected[a + i - 2] = static_cast<uint8_t>(b);
    }
    FUZZ_CHECK(unit.eeprom() == expected);
    FUZZ_CHECK(reply.eepromChanged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Chunker reads(in.take(4));
    const std::span<const uint8_t> stream = in.rest();

    // Frames do not depend on how the stream was cut into reads.
    Framer whole;
    const std::vector<Frame> expected = whole.push(stream);
    Framer framer;
    std::vector<Frame> frames;
    for (size_t pos = 0; pos < stream.size();) {
        const size_t n = std::min(reads.next(), stream.size() - pos);
        for (Frame& f : framer.push(stream.subspan(pos, n))) frames.push_back(std::move(f));
        pos += n;
    }
    FUZZ_CHECK(frames.size() == expected.size());
    for (size_t i = 0; i < frames.size(); ++i) FUZZ_CHECK(sameFrame(frames[i], expected[i]));
    FUZZ_CHECK(framer.midFrame() == whole.midFrame());

    UnitModel unit(xelsim::factoryEeprom(), 7);
    size_t consumed = 0;
    bool aligned = true;  // after a cut-off frame the rest no longer lines up byte for byte
    for (const Frame& frame : frames) {
        FUZZ_CHECK(frame.text.size() <= Framer::kMaxText);
        FUZZ_CHECK(frame.text.find('\r') == std::string::npos);
        // A frame kept whole is exactly the bytes it was cut from.
        aligned = aligned && !frame.overflow;
        if (aligned) {
            const std::vector<uint8_t> bytes = frame.bytes();
            FUZZ_CHECK(consumed + bytes.size() <= stream.size());
            FUZZ_CHECK(std::memcmp(bytes.data(), stream.data() + consumed, bytes.size()) == 0);
            consumed += bytes.size();
        }

        const bool checked = unit.state().checksumOn;
        const xelsim::EepromImage before = unit.eeprom();
        const Reply reply = unit.execute(frame);
        if (checked && !frame.checksumMatches()) FUZZ_CHECK(reply.refused);
        if (frame.overflow) FUZZ_CHECK(reply.refused);

        if (reply.resets) {
            FUZZ_CHECK(reply.bytes.empty());
            unit.powerOn();  // as xelsim restarts the unit after "setip"
        } else {
            checkAsHostSeesIt(reply);
        }
        const std::vector<std::string> w = words(frame.text);
        if (!reply.refused && !w.empty() && w[0] == "rdeep") checkRead(w, reply, unit);
        if (!w.empty() && w[0] == "wreep")
            checkWrite(w, reply, before, unit);
        else
            FUZZ_CHECK(unit.eeprom() == before);

        const xelsim::UnitState& s = unit.state();
        FUZZ_CHECK(s.button >= 1 && s.button <= UnitModel::kButtons);
        FUZZ_CHECK(s.pin >= 1 && s.pin <= UnitModel::kPins);
    }
    return 0;
}
