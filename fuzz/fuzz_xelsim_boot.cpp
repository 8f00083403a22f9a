// The bootloader's device side meeting any byte stream from a host: noise, cut
// frames, damaged escapes and CRCs, and well-framed requests of any content.
// Every reply it sends must be a frame the host's own decoder accepts.
//
// Input: [mode][4 read sizes][stream]. Mode odd: the stream is raw bytes. Mode
// even: the stream is a list of requests, each [seq][length][payload], which
// the host's encoder frames, so the requests get past the CRC.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/picboot/Frame.h"
#include "tools/xelsim/BootDevice.h"

namespace {

using xel::fuzz::Chunker;
using xel::fuzz::Input;
using xel::picboot::FrameDecoder;
using xelsim::BootDevice;

struct Decoded {
    uint8_t seq;
    std::vector<uint8_t> payload;
};

// The device's replies as the host's decoder reads them: all well formed.
std::vector<Decoded> decodeReplies(const std::string& out) {
    std::vector<Decoded> replies;
    FrameDecoder decoder;
    for (char c : out) {
        const FrameDecoder::Event ev = decoder.push(static_cast<uint8_t>(c));
        FUZZ_CHECK(ev != FrameDecoder::Event::BadFrame);
        if (ev == FrameDecoder::Event::Frame) replies.push_back({decoder.seq(), decoder.payload()});
    }
    return replies;
}

// What is fed to both devices, and the requests it holds when they were framed here.
struct Plan {
    std::vector<uint8_t> bytes;
    std::vector<Decoded> requests;  // empty for a raw stream
};

Plan planOf(bool framed, std::span<const uint8_t> stream) {
    Plan plan;
    if (!framed) {
        plan.bytes.assign(stream.begin(), stream.end());
        return plan;
    }
    Input in(stream.data(), stream.size());
    while (!in.empty()) {
        Decoded r;
        r.seq = in.byte();
        const std::span<const uint8_t> p = in.take(in.byte());
        r.payload.assign(p.begin(), p.end());
        xel::picboot::encodeFrame(r.seq, r.payload.data(), r.payload.size(), plan.bytes);
        plan.requests.push_back(std::move(r));
    }
    return plan;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const bool framed = (in.byte() & 1) == 0;
    Chunker reads(in.take(4));
    const Plan plan = planOf(framed, in.rest());

    // The same bytes in one read and in many give the same replies and memory.
    BootDevice whole;
    const std::string wholeOut = whole.received(plan.bytes);
    BootDevice device;
    std::string out;
    for (size_t pos = 0; pos < plan.bytes.size();) {
        const size_t n = std::min(reads.next(), plan.bytes.size() - pos);
        out += device.received(std::span<const uint8_t>(plan.bytes).subspan(pos, n));
        pos += n;
    }
    FUZZ_CHECK(out == wholeOut);
    FUZZ_CHECK(device.programMemory() == whole.programMemory());
    FUZZ_CHECK(device.eeprom() == whole.eeprom());

    // One reply per frame received, damaged or not.
    const std::vector<Decoded> replies = decodeReplies(out);
    const BootDevice::Counters& c = device.counters();
    FUZZ_CHECK(replies.size() == static_cast<size_t>(c.requests + c.badFrames));
    for (const Decoded& r : replies) FUZZ_CHECK(!r.payload.empty());

    // The bootloader never overwrites itself.
    const BootDevice::Geometry& g = device.geometry();
    FUZZ_CHECK(std::all_of(device.programMemory().begin(), device.programMemory().begin() + g.bootBlockSize,
                           [](uint8_t b) { return b == 0xFF; }));

    if (framed) {
        // Well-framed requests are each answered once, in order, under their own seq.
        FUZZ_CHECK(c.badFrames == 0);
        FUZZ_CHECK(replies.size() == plan.requests.size());
        for (size_t i = 0; i < replies.size(); ++i) {
            const Decoded& q = plan.requests[i];
            const Decoded& r = replies[i];
            FUZZ_CHECK(r.seq == q.seq);
            const uint8_t status = r.payload[0];
            FUZZ_CHECK(status <= BootDevice::kStatusMalformed && status != BootDevice::kStatusFrameError);
            // A write that succeeded reads back what memory now holds, byte for byte.
            if (status == BootDevice::kStatusOk && !q.payload.empty() && (q.payload[0] == 0x02 || q.payload[0] == 0x05))
                FUZZ_CHECK(r.payload.size() == 1u + q.payload[1]);
        }
    }
    return 0;
}
