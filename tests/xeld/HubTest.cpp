// The event hub: a full queue drops only its own client, publishing never
// waits for a reader, and the client limit holds.
#include <gtest/gtest.h>

#include "tools/xeld/Hub.h"

namespace {

TEST(XeldHub, DropsAFullClientAndKeepsTheOthers) {
    xeld::Hub hub(3, 4);
    auto stalled = hub.open();
    auto reader = hub.open();
    auto third = hub.open();
    ASSERT_TRUE(stalled && reader && third);
    EXPECT_EQ(hub.open(), nullptr);  // the limit
    hub.close(third);
    EXPECT_EQ(hub.clients(), 2u);

    bool ended = false;
    for (int i = 0; i < 10; ++i) {
        hub.publish("Levels", "{\"n\":" + std::to_string(i) + "}");
        const auto frame = hub.next(*reader, 0, ended);
        ASSERT_TRUE(frame);
        EXPECT_EQ(*frame, "event: Levels\ndata: {\"n\":" + std::to_string(i) + "}\n\n");
    }
    EXPECT_FALSE(hub.next(*stalled, 0, ended));
    EXPECT_TRUE(ended);
    EXPECT_EQ(hub.clients(), 1u);
    EXPECT_NE(hub.open(), nullptr);  // the dropped one's place is free again

    hub.shutdown();
    EXPECT_FALSE(hub.next(*reader, 1000, ended));
    EXPECT_TRUE(ended);
    EXPECT_EQ(hub.open(), nullptr);
}

}  // namespace
