// Framing, link settings and reply parsing, without a link.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/connection/Frame.h"
#include "core/connection/Reply.h"
#include "tests/core/connection/CommFixture.h"

namespace {

using namespace xel::core;
using xel::CommErr;
using xeltest::hexBytes;

struct FrameCase {
    std::u16string command;
    std::string bytes;
};

TEST(Frame, CommandsGoOutWithTheirChecksumByte) {
    const FrameCase cases[] = {
        {u"picver\r", "70 69 63 76 65 72 0D 89"},
        {u"mute\r", "6D 75 74 65 0D BB"},
        {u"\r", "0D 00"},
        {u"", "00"},
        {u"x", "78 00"},
        // Windows-1252 on the wire: é is E9, € is 80; the sum wraps at 256.
        {u"\u00e9\u20ac\r", "E9 80 0D 69"},
        // A character the code page cannot hold goes out as '?'.
        {u"\u4e2d\r", "3F 0D 3F"},
    };
    for (const FrameCase& c : cases) {
        const auto frame = frameCommand(c.command);
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(hexBytes(*frame), c.bytes) << "command of " << c.command.size() << " characters";
    }
}

TEST(Frame, TextsLongerThan249BytesAreRefusedWhole) {
    std::u16string fits(248, u'a');
    fits += u'\r';
    const auto frame = frameCommand(fits);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->size(), 250u);
    EXPECT_FALSE(frameCommand(fits + u'\r').has_value());
}

struct AddressCase {
    std::u16string address;
    const char* port;  // null: refused
    const char* host;
};

TEST(Frame, AddressesSelectTheirTransport) {
    const AddressCase cases[] = {
        {u"COM1", "COM1", ""},
        {u"USB", "USB", ""},
        {u"USB2", "USB2", ""},  // a serial device name for the driver
        {u"192.168.1.20", "TCP/IP", "192.168.1.20"},
        {u"unit.booth.example", "TCP/IP", "unit.booth.example"},
        {u"com1", "TCP/IP", "com1"},  // the search is case-sensitive
        {u"", "TCP/IP", ""},
        {u"COM123456", "COM123456", ""},
        // Too long for the field: cutting would name another device or host.
        {u"COM1234567", nullptr, nullptr},
        {std::u16string(64, u'h'), nullptr, nullptr},
    };
    for (const AddressCase& c : cases) {
        const auto s = linkSettingsFor(c.address);
        if (!c.port) {
            EXPECT_FALSE(s.has_value()) << c.address.size() << " characters";
            continue;
        }
        ASSERT_TRUE(s.has_value());
        EXPECT_STREQ(s->port, c.port);
        EXPECT_STREQ(s->host, c.host);
        EXPECT_EQ(s->baudRate, 38400u);
        EXPECT_EQ(s->dataBits, 8);
        EXPECT_EQ(s->parity, 0);
        EXPECT_EQ(s->stopBits, 0);
    }
    std::u16string hostMax(63, u'h');
    ASSERT_TRUE(linkSettingsFor(hostMax).has_value());
    EXPECT_EQ(std::strlen(linkSettingsFor(hostMax)->host), 63u);
}

struct ParseCase {
    std::u16string reply;
    std::vector<LONG> before;
    std::vector<LONG> after;
};

TEST(Reply, ValuesAreReadAsTheUnitSendsThem) {
    const ParseCase cases[] = {
        {u"A\t1F\r\n>", {0, 0}, {10, 31}},
        {u"5\r\n>", {0, 0, 0}, {5, 5, 5}},  // no TAB: the same field again
        {u">", {77}, {77}},                 // nothing to read
        {u"123\r\n>", {0}, {0x123}},
        {u"ff\tFf\r\n>", {0, 0}, {255, 255}},  // either case
        {u"1\t\t2\r\n>", {0, 0}, {1, 2}},      // TABs run together
        {u"\r\n 7\t8\r\n>", {0, 0}, {7, 8}},   // blanks trimmed first
        {u"?\r\n>", {-4, -4}, {-4, -4}},       // no digit: unchanged
        {u"1\tzz\t3\r\n>", {0, 9, 0}, {1, 9, 3}},
        {u"FFFFFFFF\r\n>", {0}, {-1}},
        {u"0x1A\r\n>", {0}, {0x1A}},
        {u"7FF\t800\tFFF\t0\tFFF\t7\t12\t0\r\n>",
         std::vector<LONG>(8, -1),
         {0x7FF, 0x800, 0xFFF, 0, 0xFFF, 7, 0x12, 0}},
    };
    for (const ParseCase& c : cases) {
        std::vector<LONG> v = c.before;
        parseHexValues(c.reply, static_cast<int>(v.size()), v.data());
        EXPECT_EQ(v, c.after) << "reply of " << c.reply.size() << " characters";
    }
}

TEST(Reply, OnlyABareQuestionMarkIsARefusal) {
    EXPECT_TRUE(isRefusal(u"?\r\n>"));
    EXPECT_TRUE(isRefusal(u"\r\n?\r\n>"));
    EXPECT_FALSE(isRefusal(u"\r\n>"));
    EXPECT_FALSE(isRefusal(u"?1\r\n>"));
    EXPECT_FALSE(isRefusal(u"1\r\n>"));
}

TEST(Reply, CollectionCompletesOnlyOnATrailingPrompt) {
    ReplyCollector c;
    auto add = [&](const std::string& s) {
        ASSERT_LE(s.size(), c.freeSize());
        std::memcpy(c.freeSpace(), s.data(), s.size());
        c.added(s.size());
    };
    add("12");
    EXPECT_FALSE(c.complete());
    add(">3");
    EXPECT_FALSE(c.complete()) << "a prompt that is not last";
    add("\r\n>");
    EXPECT_TRUE(c.complete());
    EXPECT_EQ(c.bytes(), "12>3\r\n>");

    ReplyCollector full;
    std::memset(full.freeSpace(), 'A', full.freeSize());
    full.added(kReplyMax + 10);  // never beyond the buffer
    EXPECT_TRUE(full.full());
    EXPECT_EQ(full.freeSize(), 0u);
    EXPECT_EQ(full.bytes().size(), kReplyMax);
}

// Members that need no unit.
TEST(CommObject, AnswersWithoutALink) {
    xeltest::CommHandle comm;
    BSTR a = nullptr;
    ASSERT_EQ(comm->get_Address(&a), S_OK);
    EXPECT_EQ(std::u16string(a, SysStringLen(a)), u"COM1");
    SysFreeString(a);

    comm.setAddress(std::u16string(u"10.0.0.9"));
    ASSERT_EQ(comm->get_Address(&a), S_OK);
    EXPECT_EQ(std::u16string(a, SysStringLen(a)), u"10.0.0.9");
    SysFreeString(a);

    CommErr err = xel::CommErrNone;
    EXPECT_EQ(comm.write(u"mute\r", &err), 2250);
    EXPECT_EQ(err, xel::CommErrNotConnected);
    std::u16string reply = u"untouched";
    EXPECT_EQ(comm.read(reply, &err), 0);
    EXPECT_EQ(err, xel::CommErrNotConnected);
    EXPECT_EQ(reply, u"untouched");
    std::vector<LONG> v{42};
    EXPECT_EQ(comm.query(u"mute\r", v), 1);
    EXPECT_EQ(v[0], 42);
    EXPECT_EQ(comm.command(u"setip 1 2 3\r"), 1) << "not written: not done";
    EXPECT_FALSE(comm.connected());
    EXPECT_EQ(comm->Disconnect(), S_OK);

    ULONG usb = 99;
    EXPECT_EQ(comm->put_uhUsb(7), S_OK);
    EXPECT_EQ(comm->get_uhUsb(&usb), S_OK);
    EXPECT_EQ(usb, 0u);

    EXPECT_EQ(comm->get_Address(nullptr), E_POINTER);
    EXPECT_EQ(comm->Connect(nullptr), E_POINTER);
    EXPECT_EQ(comm->IsConnected(nullptr), E_POINTER);
    EXPECT_EQ(comm->WriteAndReturnHex(nullptr, 2, nullptr), E_POINTER);
}

TEST(CommObject, AddressesThatCannotOpenFailToConnect) {
    xeltest::CommHandle comm;
    for (const char* address : {"USB2", "COM1234567", "COM99"}) {
        comm.setAddress(std::string(address));
        HRESULT status = 0;
        EXPECT_EQ(comm.connect(&status), xel::CommErrFailedConnect) << address;
        EXPECT_EQ(status, 1);
        EXPECT_FALSE(comm.connected());
    }
}

}  // namespace
