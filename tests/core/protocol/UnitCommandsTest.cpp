// The unit's command texts byte for byte at the edges of their arguments, and
// the status triple read against a scripted unit: its order, what a reply
// without a value leaves, and where a caller's "no" stops it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/protocol/UnitCommands.h"
#include "tests/core/connection/CommFixture.h"
#include "tests/core/connection/ScriptedPeer.h"

namespace {

using namespace xel::core;

std::string ascii(std::u16string_view text) { return std::string(text.begin(), text.end()); }

TEST(UnitCommandTexts, EdgesOfEveryArgument) {
    const LONG bytes[] = {0, 0x7F, 0xFF, -1};
    const struct {
        std::string got, want;
    } rows[] = {
        // rdeep names count - 1, and 0 for a count of 0 or 1.
        {ascii(unit::readEepromCommand(0x20C, 0)), "rdeep 0 20C\r"},
        {ascii(unit::readEepromCommand(0x20C, 1)), "rdeep 0 20C\r"},
        {ascii(unit::readEepromCommand(0x000, 2)), "rdeep 1 0\r"},
        {ascii(unit::readEepromCommand(0xFFFF, 64)), "rdeep 3F FFFF\r"},
        {ascii(unit::writeEepromCommand(0x68, 0, nullptr)), "wreep 68\r"},
        {ascii(unit::writeEepromCommand(0x68, 4, bytes)), "wreep 68 0 7F FF FFFFFFFF\r"},
        {ascii(unit::setCommand(unit::Switch::Mute, 1)), "mute 1\r"},
        {ascii(unit::setCommand(unit::Switch::DigitalEnable, 0)), "digitalenable 0\r"},
        {ascii(unit::setCommand(unit::Switch::Button, 8)), "button 8\r"},
        {ascii(unit::setCommand(unit::Switch::Pin, 16)), "pin 10\r"},
        {ascii(unit::setCommand(unit::Switch::Pin, -1)), "pin FFFFFFFF\r"},
        {ascii(unit::readCommand(unit::Switch::DigitalEnable)), "digitalenable\r"},
        {ascii(unit::kReadLevels), "vu\r"},
        // The address's and gateway's bytes most significant first; the host
        // bits as given; the port last.
        {ascii(unit::setIpCommand(LONG(0xC0A8010A), 24, LONG(0xC0A80101))), "setip C0 A8 1 A 18 C0 A8 1 1 2711\r"},
        {ascii(unit::setIpCommand(-1, 0, 0)), "setip FF FF FF FF 0 0 0 0 0 2711\r"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want);
}

// A unit answering from a table of replies; a command it has no reply for gets
// the bare prompt (an exchange without a value).
class StatusTriple : public ::testing::Test {
protected:
    void answer(std::map<std::string, std::string> replies) {
        peer.setScript([replies](const std::string& cmd) -> std::vector<xeltest::Piece> {
            const auto it = replies.find(cmd);
            return {{(it == replies.end() ? std::string() : it->second) + "\r\n>", 0}};
        });
        comm.setAddress(peer.address());
        ASSERT_EQ(comm.connect(), xel::CommErrNone);
        peer.clear();
    }
    struct Step {
        unit::Switch which;
        HRESULT status;
        LONG value;
    };
    // Reads with presets 101, 102, 103; `stopAfter` steps answer false.
    std::vector<Step> read(size_t stopAfter = 3) {
        std::vector<Step> steps;
        const auto preset = [](unit::Switch which) -> LONG {
            switch (which) {
                case unit::Switch::Button: return 101;
                case unit::Switch::Pin: return 102;
                default: return 103;
            }
        };
        unit::readStatusTriple(comm.comm(), preset, [&](unit::Switch which, HRESULT status, LONG value) {
            steps.push_back({which, status, value});
            return steps.size() < stopAfter;
        });
        return steps;
    }

    xeltest::ScriptedPeer peer;
    xeltest::CommHandle comm;
};

TEST_F(StatusTriple, ReadsInTheUnitsOrderKeepsPresetsAndGoesOnPastARefusal) {
    answer({{"pin", "?"}, {"digitalenable", "0"}});
    const std::vector<Step> steps = read();
    // The connection retries a refusal: one command per switch, in order.
    std::vector<std::string> sent = peer.commands();
    sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
    EXPECT_EQ(sent, (std::vector<std::string>{"button", "pin", "digitalenable"}));
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].which, unit::Switch::Button);
    EXPECT_EQ(steps[0].status, S_OK);
    EXPECT_EQ(steps[0].value, 101);  // no value in the reply: the preset stays
    EXPECT_EQ(steps[1].which, unit::Switch::Pin);
    EXPECT_NE(steps[1].status, S_OK);
    EXPECT_EQ(steps[2].which, unit::Switch::DigitalEnable);
    EXPECT_EQ(steps[2].status, S_OK);
    EXPECT_EQ(steps[2].value, 0);
}

TEST_F(StatusTriple, StopsWhereTheCallerSays) {
    answer({{"button", "3"}});
    const std::vector<Step> steps = read(1);
    EXPECT_EQ(peer.commands(), (std::vector<std::string>{"button"}));
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].value, 3);
}

}  // namespace
