// The event hub: a full queue drops only its own client, publishing never
// waits for a reader, and the client limit holds.
#include <gtest/gtest.h>

#include "tools/xeld/Hub.h"
#include "tools/xeld/Request.h"

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

    // Every event is counted; with no stream open (shut down), no frame is made.
    bool made = false;
    hub.publish("Levels", [&] {
        made = true;
        return std::string("{}");
    });
    EXPECT_FALSE(made);
    EXPECT_EQ(hub.counts().at("Levels"), 11);
}

}  // namespace

// The Host rule against a page elsewhere driving the server through a name it
// controls, and the names a technician's browser really sends.
TEST(XeldRequest, AChangeNamesTheServerByItsAddress) {
    struct Case {
        const char* host;
        const char* listen;
        bool allowed;
    } cases[] = {
        {"127.0.0.1:8710", "127.0.0.1:8710", true},
        {"localhost:8710", "127.0.0.1:8710", true},
        {"LOCALHOST:8710", "[::1]:8710", true},
        {"localhost:8711", "127.0.0.1:8710", false},
        {"evil.example:8710", "127.0.0.1:8710", false},
        {"10.0.0.5:8710", "127.0.0.1:8710", false},
        // Every interface: any address literal on the port, never a name.
        {"192.168.1.20:8710", "0.0.0.0:8710", true},
        {"[fe80::1]:8710", "[::]:8710", true},
        {"localhost:8710", "0.0.0.0:8710", true},
        {"192.168.1.20:80", "0.0.0.0:8710", false},
        {"192.168.1.20", "0.0.0.0:8710", false},
        {"booth.example:8710", "0.0.0.0:8710", false},
        {"999.1.1.1:8710", "0.0.0.0:8710", false},
        {"[::1:8710", "[::]:8710", false},
        {"", "0.0.0.0:8710", false},
        // A named listen address is matched as it stands.
        {"booth.example:8710", "booth.example:8710", true},
        {"192.168.1.20:8710", "192.168.1.20:8710", true},
        {"192.168.1.21:8710", "192.168.1.20:8710", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xeld::hostAllowed(c.host, c.listen), c.allowed) << c.host << " on " << c.listen;
}
