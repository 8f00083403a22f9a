// The firmware download end to end: a HEX file converted by the core, written by
// the core's monitor through the bootloader library into the real xelsim's
// bootloader on a pseudo-terminal paced like the unit's 38400-baud line, and
// what xelsim's flash and EEPROM hold afterwards. Also the ways it fails and
// that the line serves the unit's own program again afterwards.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/core/control/CoreFixture.h"
#include "tests/firmware/BootCallRecorder.h"
#include "tests/support/HexRecord.h"

namespace {

using namespace xeltest;
namespace fs = std::filesystem;

constexpr uint32_t kProgramSize = 0x20000;
constexpr uint32_t kEepromSize = 0x400;

// A run of data bytes at a full 32-bit address (upper 16 bits: the extended address).
struct Chunk {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

std::string record(int type, unsigned address, const std::vector<uint8_t>& data) {
    return hexRecord(type, address, data) + "\r\n";
}

// An assembler's kind of image: vectors that share rows, a record running
// across a row boundary, a 32-byte record, code in the second 64 KB, ID
// locations and configuration bytes (converted but never sent) and data EEPROM.
const std::vector<Chunk> kImage = {
    {0x000400, {0xEF, 0x0C, 0xF0, 0x02}},
    {0x000408, {0x11, 0x00}},
    {0x000418, {0x10, 0x00, 0x12, 0x0E, 0x81, 0x6E, 0xFD, 0xD7, 0x58, 0x65}},
    {0x000430, {0x6C, 0x6F, 0x72, 0x20, 0x66, 0x69, 0x72, 0x6D, 0x77, 0x61, 0x72, 0x65, 0x20, 0x69, 0x6D, 0x61,
                0x67, 0x65, 0x2C, 0x20, 0x76, 0x65, 0x72, 0x73, 0x69, 0x6F, 0x6E, 0x20, 0x32, 0x2E, 0x31, 0x00}},
    {0x01FF00, {0xA5, 0x5A, 0xC3, 0x3C}},
    {0x200000, {0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
    {0x300000, {0xFF, 0x06, 0x1E, 0x1E, 0xFF, 0x83, 0x81, 0xFF}},
    {0xF00000, {'X', 'E', 'L', 'O', 'R', 0x00}},
    {0xF000FE, {0x12, 0x34}},
};

std::string hexText(const std::vector<Chunk>& chunks) {
    std::string text;
    unsigned ext = 0;
    for (const Chunk& c : chunks) {
        if (c.address >> 16 != ext) {
            ext = c.address >> 16;
            text += record(4, 0, {static_cast<uint8_t>(ext >> 8), static_cast<uint8_t>(ext)});
        }
        text += record(0, c.address & 0xFFFF, c.bytes);
    }
    return text + record(1, 0, {});
}

// What the memories must hold after the download: erased flash and blank
// EEPROM, with every 16-byte row an image carries written whole (bytes no
// record supplies are 00 in the image, and are written so).
struct Expected {
    std::vector<uint8_t> program = std::vector<uint8_t>(kProgramSize, 0xFF);
    std::vector<uint8_t> eeprom = std::vector<uint8_t>(kEepromSize, 0xFF);
    long programRows = 0;
    long eepromRows = 0;
};

Expected expectedAfter(const std::vector<Chunk>& chunks) {
    Expected e;
    std::map<uint32_t, uint8_t> program, eeprom;
    for (const Chunk& c : chunks)
        for (size_t i = 0; i < c.bytes.size(); ++i) {
            const uint32_t a = c.address + static_cast<uint32_t>(i);
            if (a < kProgramSize) program[a] = c.bytes[i];
            if (a >= 0xF00000 && a < 0xF00000 + kEepromSize) eeprom[a - 0xF00000] = c.bytes[i];
        }
    auto place = [](const std::map<uint32_t, uint8_t>& bytes, std::vector<uint8_t>& memory, long& rows) {
        uint32_t lastRow = UINT32_MAX;
        for (const auto& [a, v] : bytes) {
            if ((a & ~0xFu) != lastRow) {
                lastRow = a & ~0xFu;
                std::fill_n(memory.begin() + lastRow, 16, 0x00);
                ++rows;
            }
            memory[a] = v;
        }
    };
    place(program, e.program, e.programRows);
    place(eeprom, e.eeprom, e.eepromRows);
    return e;
}

std::vector<uint8_t> unhex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The first address where two memories differ, for a readable failure.
std::string firstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
    if (got.size() != want.size()) return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size());
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i]) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "at 0x%06zX: 0x%02X, expected 0x%02X", i, got[i], want[i]);
            return buf;
        }
    return "none";
}

// The rows of a memory image file, in file order: address, then 16 bytes.
std::vector<std::pair<uint32_t, std::vector<uint8_t>>> imageRows(const fs::path& file) {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> rows;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 6 + 16 * 3) continue;
        std::vector<uint8_t> bytes;
        for (size_t k = 0; k < 16; ++k)
            bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(7 + 3 * k, 2), nullptr, 16)));
        rows.emplace_back(static_cast<uint32_t>(std::stoul(line.substr(0, 6), nullptr, 16)), std::move(bytes));
    }
    return rows;
}

std::string blockText(const BootBlockRequest& r) {
    char buf[128];
    std::snprintf(buf, sizeof buf,
                  "{command %u, count %u, zero %u, address 0x%06X, unit size %u, revision %u, attempts %u}", r.command,
                  r.count, r.zero, r.address, r.unitSize, r.revision, r.attempts);
    return buf;
}

class XelsimDownload : public CoreTest {
protected:
    // xelsim on a pseudo-terminal, reached by the core as COM7; paced at the
    // unit's rate unless a test only looks at how a download fails.
    void startSerialSim(std::vector<std::string> args, bool paced = true) {
        if (paced) args.insert(args.begin(), {"--baud", "38400"});
        sim = std::make_unique<XelsimProcess>(std::move(args), XelsimProcess::Link::Pty);
        const char* home = std::getenv("XDG_CONFIG_HOME");
        ASSERT_NE(home, nullptr);
        const fs::path ports = fs::path(home) / "xelor" / "ports";
        fs::create_directories(ports);
        fs::remove(ports / "COM7");
        fs::create_symlink(sim->linkPath(), ports / "COM7");
        ASSERT_EQ(comm->put_Address(Bstr(u"COM7").get()), S_OK);
    }

    void convert(const std::vector<Chunk>& chunks) {
        hexPath = dir.file("xelapp.hex");
        std::ofstream(hexPath, std::ios::binary) << hexText(chunks);
        ASSERT_EQ(xel->ParseHexFile(Bstr(u16(hexPath)).get()), S_OK);
    }

    void downloadToEnd() {
        ASSERT_EQ(xel->DownloadToPIC(), S_OK);
        ASSERT_TRUE(sink->waitFor(downloadEnded, std::chrono::seconds(120)))
            << describe(sink->events()) << sim->diagnostics();
    }

    nlohmann::json bootDump() {
        const auto j = nlohmann::json::parse(sim->panel("dump"), nullptr, false);
        EXPECT_TRUE(j.is_object() && j.value("mode", "") == "bootloader") << sim->diagnostics();
        return j;
    }

    bool connected() {
        VARIANT_BOOL c = VARIANT_TRUE;
        EXPECT_EQ(comm->IsConnected(&c), S_OK);
        return c == VARIANT_TRUE;
    }

    // The unit powered on normally on the same line answers a Connect and a Query.
    void expectUnitUsableAgain() {
        ASSERT_EQ(sim->panel("power on"), "ok");
        xel::CommErr err = xel::CommErrCheck;
        EXPECT_EQ(comm->Connect(&err), S_OK) << sim->diagnostics();
        EXPECT_EQ(err, xel::CommErrNone) << "the bootloader left the connection's slot empty";
        EXPECT_EQ(xel->Query(), S_OK) << sim->diagnostics();
    }

    ScratchDir dir;
    std::string hexPath;
};

TEST_F(XelsimDownload, ImageFromAConnectedUnitLandsInItsBootloader) {
    startSerialSim({});
    connectAndQuery("COM7");
    convert(kImage);
    auto progress = EventSink::make();
    DWORD progressCookie = 0;
    ASSERT_EQ(xel::objrt::advise(xel.get(), xel::DIID__IXelStatusEvents, progress.get(), &progressCookie), S_OK);
    // The operator powers the unit on with Mode held; the open link goes first.
    ASSERT_EQ(sim->panel("power mode"), "ok");

    downloadToEnd();
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 1, 2, 3, 5})) << describe(sink->events());
    EXPECT_FALSE(connected()) << "the bootloader channel closed, the link stays closed";
    EXPECT_TRUE(sink->waitForCount(xel::DISPID_CommFail, 1)) << "the client learns its link is gone";

    const Expected want = expectedAfter(kImage);
    const nlohmann::json j = bootDump();
    const auto program = unhex(j.at("program").get<std::string>());
    const auto eeprom = unhex(j.at("data_eeprom").get<std::string>());
    EXPECT_EQ(program, want.program) << "first difference " << firstDifference(program, want.program);
    EXPECT_EQ(eeprom, want.eeprom) << "first difference " << firstDifference(eeprom, want.eeprom);
    EXPECT_EQ(j.at("boot_flag"), 0) << "the final write marks the program complete";
    EXPECT_EQ(j.at("erased_rows"), 2032);
    EXPECT_EQ(j.at("writes"), want.programRows + want.eepromRows + 1) << "one write per image row, then the final one";
    EXPECT_EQ(j.at("bad_frames"), 0);

    expectDownloadProgressEnded(*progress.get());
    xel::objrt::unadvise(xel.get(), xel::DIID__IXelStatusEvents, progressCookie);

    expectUnitUsableAgain();
}

// The bootloader library checks little of what it is handed, and xelsim sees only
// the wire: the arguments of each call are pinned here, as the core makes them.
TEST_F(XelsimDownload, BootloaderCallArgumentsArePinned) {
    startSerialSim({"--bootloader"}, false);
    convert(kImage);
    clearBootCalls();
    downloadToEnd();
    ASSERT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 1, 2, 3, 5})) << describe(sink->events());
    const std::vector<BootCall> calls = recordedBootCalls();
    const fs::path images = fs::path(hexPath).parent_path();
    const auto program = imageRows(images / "PROGMEM.MCP");
    const auto eeprom = imageRows(images / "EEDATA.MCP");
    ASSERT_FALSE(program.empty());
    ASSERT_FALSE(eeprom.empty());
    constexpr size_t kEraseRows = 2032;
    ASSERT_EQ(calls.size(), 1 + kEraseRows + program.size() + eeprom.size() + 1 + 1)
        << "open, the erase, one block per image row, the final write, close";

    size_t i = 0;
    const BootCall& opened = calls[i++];
    ASSERT_EQ(opened.op, BootCall::Op::Open);
    EXPECT_EQ(opened.port, "COM7") << "the connection's address as the port name";
    EXPECT_EQ(opened.baud, 38400);
    EXPECT_EQ(opened.timeoutMs, 1000);
    const int32_t handle = opened.result;
    ASSERT_GT(handle, 0);

    for (size_t row = 0; row < kEraseRows; ++row) {
        const BootCall& c = calls[i++];
        const uint32_t a = 0x000400 + 64 * static_cast<uint32_t>(row);
        ASSERT_EQ(c.op, BootCall::Op::SendPacket) << "erase row " << row;
        ASSERT_EQ(c.handle, handle);
        ASSERT_EQ(c.packet, (std::vector<uint8_t>{0x03, 0x01, static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8),
                                                  static_cast<uint8_t>(a >> 16)}))
            << "erase packet at 0x" << std::hex << a;
        ASSERT_EQ(c.replyWaitMs, 255);
        ASSERT_EQ(c.attempts, 25);
        ASSERT_EQ(c.result, 0);
    }

    // Program memory in 8-byte units, data EEPROM byte by byte; the library sends
    // each block up to three times. The first wrong call ends each loop.
    auto expectBlocks = [&](const auto& rows, uint8_t command, uint8_t unitSize, const char* image) {
        for (const auto& [address, bytes] : rows) {
            const BootCall& c = calls[i++];
            ASSERT_EQ(c.op, BootCall::Op::WriteBlock) << image << " row 0x" << std::hex << address;
            ASSERT_EQ(c.handle, handle);
            const BootBlockRequest want{command, 16, 0, address, unitSize, 1, 3};
            ASSERT_EQ(blockText(c.request), blockText(want)) << image;
            ASSERT_EQ(c.data, bytes) << image << " row 0x" << std::hex << address;
            ASSERT_EQ(c.result, 1);
        }
    };
    expectBlocks(program, 2, 8, "PROGMEM.MCP");
    expectBlocks(eeprom, 5, 1, "EEDATA.MCP");

    const BootCall& last = calls[i++];
    ASSERT_EQ(last.op, BootCall::Op::WriteBlock);
    EXPECT_EQ(blockText(last.request), blockText(BootBlockRequest{5, 1, 0, 0x7FFF, 1, 1, 3})) << "the final write";
    EXPECT_EQ(last.data, std::vector<uint8_t>{0x00});
    const BootCall& closed = calls[i++];
    EXPECT_EQ(closed.op, BootCall::Op::Close);
    EXPECT_EQ(closed.handle, handle);
}

TEST_F(XelsimDownload, UnitThatStopsAnsweringEndsFailedAndTheLineServesAgain) {
    startSerialSim({"--bootloader", "--boot-silent-after", "300"}, false);
    convert(kImage);
    downloadToEnd();
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 1, 4})) << describe(sink->events());
    EXPECT_FALSE(connected());
    const nlohmann::json j = bootDump();
    EXPECT_GT(j.at("erased_rows").get<long>(), 0);
    EXPECT_LT(j.at("erased_rows").get<long>(), 2032) << "stopped part-way through the erase";
    EXPECT_EQ(j.at("boot_flag"), nullptr);
    LONG p = 0;
    EXPECT_EQ(status->get_DownloadProgress(&p), S_OK);
    EXPECT_EQ(p, -1);

    expectUnitUsableAgain();
}

TEST_F(XelsimDownload, ReadBackThatDiffersEndsFailedWhileWritingTheProgram) {
    // The cell under the second byte of the first program row keeps its erased value.
    startSerialSim({"--bootloader", "--boot-dead-cell", "401"}, false);
    convert(kImage);
    downloadToEnd();
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 1, 2, 4})) << describe(sink->events());
    const nlohmann::json j = bootDump();
    EXPECT_EQ(j.at("writes"), 1) << "nothing written after the failed row";
    EXPECT_EQ(j.at("boot_flag"), nullptr) << "an incomplete program is never marked complete";
}

TEST_F(XelsimDownload, MissingImageFailsFirstWithNothingErased) {
    startSerialSim({"--bootloader"}, false);
    convert(kImage);
    // Only the second image is missing: both are read before the unit is touched.
    fs::remove(fs::path(hexPath).parent_path() / "EEDATA.MCP");
    downloadToEnd();
    EXPECT_EQ(downloadStates(*sink.get()), (std::vector<LONG>{0, 4})) << describe(sink->events());
    const nlohmann::json j = bootDump();
    EXPECT_EQ(j.at("requests"), 0) << "the bootloader was never addressed";
    EXPECT_EQ(j.at("erased_rows"), 0);
}

// xelsim's bootloader answers on a serial line only.
TEST_F(XelsimDownload, BootloaderIsRefusedOnTcp) {
    startSim();
    EXPECT_EQ(sim->panel("power mode").rfind("error:", 0), 0u);
    EXPECT_NE(sim->dump().json.find("\"mode\":\"unit\""), std::string::npos) << "the unit's program still answers";
    std::string out;
    std::FILE* p = ::popen((xelsimPath() + " --bootloader 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    EXPECT_EQ(WEXITSTATUS(::pclose(p)), 2) << out;
    EXPECT_NE(out.find("--pty"), std::string::npos) << out;
}

}  // namespace
