// The bare echo is a floor only if it carries the very bytes of an exchange,
// unchanged, over a real socket and a real pseudo-terminal.
#include <gtest/gtest.h>

#include "bench/EchoPeer.h"

namespace xelbench {
namespace {

using namespace std::chrono_literals;

TEST(EchoPeer, RepliesAreCutLikeTheUnitsSplitReplies) {
    EXPECT_EQ(splitReply("1\r\n>", 3), (std::vector<std::string>{"1", "\r", "\n>"}));
    EXPECT_EQ(splitReply("ABCDEFGHI>", 3), (std::vector<std::string>{"ABC", "DEF", "GHI>"}));
    EXPECT_EQ(splitReply("?>", 3), (std::vector<std::string>{"?", ">"}));
    EXPECT_EQ(splitReply(">", 3), (std::vector<std::string>{">"}));
    EXPECT_EQ(splitReply("1\r\n>", 1), (std::vector<std::string>{"1\r\n>"}));
}

// The unit's frames hold "\r", checksum bytes above 0x7F and NULs; a terminal
// that is not raw would turn "\r" into "\n" or swallow bytes.
EchoScript unitLikeScript() {
    EchoScript s;
    s.frame = std::string("mute\r\xBB", 6);
    s.pieces = {std::string("1\r\n\0\xD5>", 6)};
    return s;
}

TEST(EchoPeer, CarriesTheBytesUnchangedOverBothLines) {
    for (const bool tcp : {true, false}) {
        SCOPED_TRACE(tcp ? "tcp" : "pty");
        auto link = tcp ? EchoLink::tcp() : EchoLink::pty();
        const auto trips = link->roundTrips(unitLikeScript(), 50);
        ASSERT_EQ(trips.size(), 50u);
        for (double t : trips) EXPECT_GT(t, 0);

        // Replies in pieces, then a different exchange on the same line: nothing of
        // the earlier rounds is left over to confuse it.
        EchoScript split = unitLikeScript();
        split.pieces = splitReply(split.pieces[0], 3);
        split.gap = 2ms;
        EXPECT_EQ(link->roundTrips(split, 5).size(), 5u);
        EchoScript other{"picver\r\x89", {"3.1\r\n>"}, 0us};
        EXPECT_EQ(link->roundTrips(other, 5).size(), 5u);
    }
}

}  // namespace
}  // namespace xelbench
