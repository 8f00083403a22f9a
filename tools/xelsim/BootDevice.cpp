#include "tools/xelsim/BootDevice.h"

#include <algorithm>

namespace xelsim {

namespace {

constexpr std::uint8_t kSof = 0xD5;
constexpr std::uint8_t kEsc = 0xD6;
constexpr std::uint8_t kFlip = 0x20;

constexpr std::uint8_t kCmdIdentify = 0x00;
constexpr std::uint8_t kCmdWriteProgram = 0x02;
constexpr std::uint8_t kCmdErase = 0x03;
constexpr std::uint8_t kCmdWriteEeprom = 0x05;
constexpr std::uint8_t kProtocolVersion = 1;

// CRC-16 over 0x1021 from 0xFFFF, shifted MSB first, one byte at a time.
std::uint16_t crcStep(std::uint16_t crc, std::uint8_t byte) {
    crc ^= static_cast<std::uint16_t>(byte) << 8;
    for (int i = 0; i < 8; ++i) {
        const bool top = (crc & 0x8000) != 0;
        crc = static_cast<std::uint16_t>(crc << 1);
        if (top) crc ^= 0x1021;
    }
    return crc;
}

void emit(std::uint8_t b, std::string& out) {
    if (b == kSof || b == kEsc) {
        out.push_back(static_cast<char>(kEsc));
        b ^= kFlip;
    }
    out.push_back(static_cast<char>(b));
}

std::uint32_t address24(const std::vector<std::uint8_t>& req) {
    return static_cast<std::uint32_t>(req[2]) | static_cast<std::uint32_t>(req[3]) << 8 |
           static_cast<std::uint32_t>(req[4]) << 16;
}

}  // namespace

BootDevice::BootDevice() : BootDevice(Geometry{}) {}

BootDevice::BootDevice(Geometry geometry)
    : geometry_(geometry), program_(geometry.programSize, 0xFF), eeprom_(geometry.eepromSize, 0xFF) {}

std::string BootDevice::received(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::uint8_t b : bytes) {
        if (b == kSof) {  // always the start of a frame, whatever came before
            rx_ = Rx::Seq;
            escape_ = false;
            body_.clear();
            continue;
        }
        if (rx_ == Rx::Hunt) continue;
        if (escape_) {
            escape_ = false;
            b ^= kFlip;
            if (b != kSof && b != kEsc) {
                rx_ = Rx::Hunt;
                frameEnded(false, out);
                continue;
            }
        } else if (b == kEsc) {
            escape_ = true;
            continue;
        }
        switch (rx_) {
            case Rx::Hunt: break;
            case Rx::Seq:
                seq_ = b;
                rx_ = Rx::Len;
                break;
            case Rx::Len:
                len_ = b;
                rx_ = len_ ? Rx::Body : Rx::Crc1;
                break;
            case Rx::Body:
                body_.push_back(b);
                if (body_.size() == len_) rx_ = Rx::Crc1;
                break;
            case Rx::Crc1:
                crc_ = static_cast<std::uint16_t>(b << 8);
                rx_ = Rx::Crc2;
                break;
            case Rx::Crc2: {
                crc_ |= b;
                rx_ = Rx::Hunt;
                std::uint16_t c = crcStep(crcStep(0xFFFF, seq_), len_);
                for (std::uint8_t x : body_) c = crcStep(c, x);
                frameEnded(c == crc_, out);
                break;
            }
        }
    }
    return out;
}

void BootDevice::frameEnded(bool crcOk, std::string& out) {
    if (faults_.answerLimit >= 0 && counters_.requests >= faults_.answerLimit) return;  // gone silent
    if (!crcOk) {
        ++counters_.badFrames;
        reply(seq_, {kStatusFrameError}, out);
        return;
    }
    ++counters_.requests;
    std::vector<std::uint8_t> payload;
    execute(body_, payload);
    if (faults_.dropReplies > 0) {
        --faults_.dropReplies;
        return;
    }
    reply(seq_, payload, out);
}

void BootDevice::reply(std::uint8_t seq, const std::vector<std::uint8_t>& payload, std::string& out) {
    const auto len = static_cast<std::uint8_t>(payload.size());
    std::uint16_t c = crcStep(crcStep(0xFFFF, seq), len);
    for (std::uint8_t x : payload) c = crcStep(c, x);
    if (faults_.garbleReplies > 0) {
        --faults_.garbleReplies;
        c ^= 0x0101;
    }
    out.push_back(static_cast<char>(kSof));
    emit(seq, out);
    emit(len, out);
    for (std::uint8_t x : payload) emit(x, out);
    emit(static_cast<std::uint8_t>(c >> 8), out);
    emit(static_cast<std::uint8_t>(c), out);
}

void BootDevice::execute(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply) {
    if (req.empty()) {
        reply = {kStatusMalformed};
        return;
    }
    switch (req[0]) {
        case kCmdIdentify: {
            const std::uint32_t p = geometry_.programSize;
            const std::uint32_t e = geometry_.eepromSize;
            reply = {kStatusOk,
                     kProtocolVersion,
                     static_cast<std::uint8_t>(p),
                     static_cast<std::uint8_t>(p >> 8),
                     static_cast<std::uint8_t>(p >> 16),
                     static_cast<std::uint8_t>(e),
                     static_cast<std::uint8_t>(e >> 8)};
            return;
        }
        case kCmdErase: return erase(req, reply);
        case kCmdWriteProgram: return writeProgram(req, reply);
        case kCmdWriteEeprom: return writeEeprom(req, reply);
        default: reply = {kStatusUnknown}; return;
    }
}

void BootDevice::erase(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply) {
    if (req.size() != 5 || req[1] == 0) {
        reply = {kStatusMalformed};
        return;
    }
    const std::uint32_t from = address24(req);
    const std::uint32_t bytes = static_cast<std::uint32_t>(req[1]) * geometry_.eraseRow;
    if (from % geometry_.eraseRow != 0) {
        reply = {kStatusMalformed};
        return;
    }
    if (from < geometry_.bootBlockSize || from + bytes > geometry_.programSize) {
        reply = {kStatusAddress};
        return;
    }
    std::fill_n(program_.begin() + from, bytes, 0xFF);
    counters_.erasedRows += req[1];
    reply = {kStatusOk};
}

void BootDevice::writeProgram(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply) {
    if (req.size() < 6 || req.size() != 5u + req[1] || req[1] % geometry_.writeUnit != 0) {
        reply = {kStatusMalformed};
        return;
    }
    const std::uint32_t at = address24(req);
    const std::uint32_t n = req[1];
    if (at % geometry_.writeUnit != 0) {
        reply = {kStatusMalformed};
        return;
    }
    if (at < geometry_.bootBlockSize || at + n > geometry_.programSize) {
        reply = {kStatusAddress};
        return;
    }
    reply = {kStatusOk};
    for (std::uint32_t i = 0; i < n; ++i) {
        // Flash programming only clears bits; setting one back needs an erase.
        if (faults_.deadProgramCell != at + i) program_[at + i] &= req[5 + i];
        reply.push_back(program_[at + i]);
    }
    ++counters_.writes;
}

void BootDevice::writeEeprom(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply) {
    if (req.size() < 6 || req.size() != 5u + req[1]) {
        reply = {kStatusMalformed};
        return;
    }
    const std::uint32_t at = address24(req);
    const std::uint32_t n = req[1];
    if (at == kBootFlagAddress && n == 1) {
        bootFlag_ = req[5];
        reply = {kStatusOk, *bootFlag_};
        ++counters_.writes;
        return;
    }
    if (at + n > geometry_.eepromSize) {
        reply = {kStatusAddress};
        return;
    }
    reply = {kStatusOk};
    for (std::uint32_t i = 0; i < n; ++i) {
        eeprom_[at + i] = req[5 + i];
        reply.push_back(eeprom_[at + i]);
    }
    ++counters_.writes;
}

}  // namespace xelsim
