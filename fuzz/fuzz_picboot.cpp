// The bootloader's host side reading whatever comes down the serial line: the
// device's replies mixed with noise, cut frames and damaged bytes.
//
// Input: [mode][stream]. Mode odd: raw bytes. Mode even: a list of items
// [kind][length][bytes], where an even kind is a reply framed by the encoder
// (first byte its seq) and an odd kind is noise put on the line as it is.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/picboot/Frame.h"
#include "tools/xelsim/BootDevice.h"

namespace {

using namespace xel::picboot;
using xel::fuzz::Input;

struct Counts {
    long frames = 0, bad = 0;
};

Counts decodeRaw(std::span<const uint8_t> bytes) {
    Counts n;
    FrameDecoder decoder;
    for (uint8_t b : bytes) {
        switch (decoder.push(b)) {
            case FrameDecoder::Event::Frame: {
                ++n.frames;
                const std::vector<uint8_t> payload = decoder.payload();
                FUZZ_CHECK(payload.size() <= kMaxPayload);
                // A frame taken in is one the encoder makes again, and takes in the same.
                std::vector<uint8_t> again;
                encodeFrame(decoder.seq(), payload.data(), payload.size(), again);
                FrameDecoder fresh;
                for (size_t i = 0; i < again.size(); ++i) {
                    FUZZ_CHECK(i == 0 || again[i] != kStart);
                    const FrameDecoder::Event ev = fresh.push(again[i]);
                    FUZZ_CHECK(ev == (i + 1 == again.size() ? FrameDecoder::Event::Frame : FrameDecoder::Event::None));
                }
                FUZZ_CHECK(fresh.seq() == decoder.seq() && fresh.payload() == payload);
                break;
            }
            case FrameDecoder::Event::BadFrame: ++n.bad; break;
            case FrameDecoder::Event::None: break;
        }
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const bool items = (in.byte() & 1) == 0;
    if (!items) {
        const std::span<const uint8_t> stream = in.rest();
        const Counts host = decodeRaw(stream);
        // The device side, written apart from this one, must see the same frames.
        xelsim::BootDevice device;
        (void)device.received(stream);
        FUZZ_CHECK(host.frames == device.counters().requests);
        FUZZ_CHECK(host.bad == device.counters().badFrames);
        return 0;
    }

    // Whatever came before, a whole frame on the line is taken in as sent.
    FrameDecoder decoder;
    while (!in.empty()) {
        const uint8_t kind = in.byte();
        const std::span<const uint8_t> bytes = in.take(in.byte());
        if (kind & 1) {
            for (uint8_t b : bytes) (void)decoder.push(b);
            continue;
        }
        const uint8_t seq = bytes.empty() ? 0 : bytes[0];
        const std::span<const uint8_t> payload = bytes.empty() ? bytes : bytes.subspan(1);
        std::vector<uint8_t> frame;
        encodeFrame(seq, payload.data(), payload.size(), frame);
        for (size_t i = 0; i < frame.size(); ++i) {
            const FrameDecoder::Event ev = decoder.push(frame[i]);
            FUZZ_CHECK(ev == (i + 1 == frame.size() ? FrameDecoder::Event::Frame : FrameDecoder::Event::None));
        }
        FUZZ_CHECK(decoder.seq() == seq);
        FUZZ_CHECK(decoder.payload() == std::vector<uint8_t>(payload.begin(), payload.end()));
    }
    return 0;
}
