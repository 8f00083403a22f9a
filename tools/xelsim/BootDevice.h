// The unit's bootloader as the host's bootloader library meets it on the serial
// line: frames in, frames out, with the microcontroller's program memory and data
// EEPROM behind them. Pure (no I/O, no clock); the caller moves the bytes.
//
// Wire format, our own (platform/picboot/README.md describes it for the host):
//   frame   = 0xD5, then escaped: seq, len, payload[len], crc16 (high byte first)
//   escape  = 0xD5 and 0xD6 inside a frame become 0xD6, byte ^ 0x20
//   crc16   = polynomial 0x1021, initial 0xFFFF, over seq, len and payload
// Requests (payload[0] is the command; addresses are three bytes, low first):
//   0x00                         identify -> ok, version, program size (3), EEPROM size (2)
//   0x03 rows a0 a1 a2           erase `rows` 64-byte rows of program memory -> ok
//   0x02 n a0 a1 a2 data[n]      write program memory (8-byte units) -> ok, read-back[n]
//   0x05 n a0 a1 a2 data[n]      write data EEPROM -> ok, read-back[n]
// A one-byte EEPROM write at 0x7FFF is the final write: it sets the boot flag
// (0x00 = the new program is complete and runs at the next power-on).
// Replies carry the request's seq; payload[0] is the status (kStatus...).
//
// This is an independent implementation of that format: it shares no code with
// the host library, so a misreading on one side shows up in the tests.
//
// Thread contract: none; one thread drives an instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace xelsim {

class BootDevice {
public:
    static constexpr std::uint8_t kStatusOk = 0x00;
    static constexpr std::uint8_t kStatusFrameError = 0x01;  // damaged frame: the host sends it again
    static constexpr std::uint8_t kStatusUnknown = 0x02;     // unknown command
    static constexpr std::uint8_t kStatusAddress = 0x03;     // outside the memory, or the protected boot block
    static constexpr std::uint8_t kStatusMalformed = 0x04;   // wrong length or alignment
    static constexpr std::uint32_t kBootFlagAddress = 0x7FFF;

    struct Geometry {
        std::uint32_t programSize = 0x20000;  // bytes of program memory
        std::uint32_t bootBlockSize = 0x400;  // the bootloader itself: never erased or written
        std::uint32_t eepromSize = 0x400;     // bytes of data EEPROM
        std::uint32_t eraseRow = 64;          // bytes per erase row
        std::uint32_t writeUnit = 8;          // program memory is written in units of this size
    };

    // Misbehaviour on purpose, for tests and demonstrations.
    struct Faults {
        long answerLimit = -1;  // after this many requests the device neither acts nor answers (-1: never)
        int garbleReplies = 0;  // the next N replies go out with a damaged CRC
        int dropReplies = 0;    // the next N requests are carried out but not answered
        std::optional<std::uint32_t> deadProgramCell;  // a program-memory byte that ignores writes
    };

    struct Counters {
        long requests = 0;   // well-formed frames received (answered or not)
        long badFrames = 0;  // frames with a wrong CRC or a broken escape
        long erasedRows = 0;
        long writes = 0;  // program-memory and EEPROM writes carried out
    };

    BootDevice();
    explicit BootDevice(Geometry geometry);

    // Feeds bytes from the host; returns the bytes to send back (possibly none).
    std::string received(std::span<const std::uint8_t> bytes);

    Faults& faults() { return faults_; }
    const Counters& counters() const { return counters_; }
    const Geometry& geometry() const { return geometry_; }

    // Program memory starts erased (0xFF) and EEPROM blank (0xFF), as on a new chip.
    std::vector<std::uint8_t>& programMemory() { return program_; }
    const std::vector<std::uint8_t>& programMemory() const { return program_; }
    std::vector<std::uint8_t>& eeprom() { return eeprom_; }
    const std::vector<std::uint8_t>& eeprom() const { return eeprom_; }
    // The value of the final write; none until one arrived.
    std::optional<std::uint8_t> bootFlag() const { return bootFlag_; }

private:
    enum class Rx { Hunt, Seq, Len, Body, Crc1, Crc2 };

    void frameEnded(bool crcOk, std::string& out);
    void execute(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply);
    void reply(std::uint8_t seq, const std::vector<std::uint8_t>& payload, std::string& out);
    void erase(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply);
    void writeProgram(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply);
    void writeEeprom(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply);

    Geometry geometry_;
    Faults faults_;
    Counters counters_;
    std::vector<std::uint8_t> program_;
    std::vector<std::uint8_t> eeprom_;
    std::optional<std::uint8_t> bootFlag_;

    Rx rx_ = Rx::Hunt;
    bool escape_ = false;
    std::uint8_t seq_ = 0;
    std::uint8_t len_ = 0;
    std::uint16_t crc_ = 0;
    std::vector<std::uint8_t> body_;
};

}  // namespace xelsim
