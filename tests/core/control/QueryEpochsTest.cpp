// The query epochs: a Query and the monitor's failures, in every order they
// can meet, never undo each other's news.
#include <gtest/gtest.h>

#include "core/control/QueryEpochs.h"

namespace {

using namespace xel::core;

TEST(QueryEpochs, QueryRunsAndSucceeds) {
    QueryEpochs q;
    EXPECT_FALSE(q.state().queried);
    EXPECT_EQ(q.state().running, 0);

    const uint64_t before = q.state().epoch;
    q.begin();
    const QueryState running = q.state();
    EXPECT_FALSE(running.queried);
    EXPECT_EQ(running.running, 1);
    EXPECT_NE(running.epoch, before) << "the monitor must see a new Query begin";

    q.succeeded(Switches{1, 0, 3, 5});
    const QueryState done = q.state();
    EXPECT_TRUE(done.queried);
    EXPECT_EQ(done.running, 0);
    EXPECT_NE(done.epoch, running.epoch) << "the monitor must resync to the finished Query";
    EXPECT_EQ(done.switches, (Switches{1, 0, 3, 5}));
}

TEST(QueryEpochs, FailureClearsOnlyTheEpochItSaw) {
    QueryEpochs q;
    q.begin();
    q.succeeded(Switches{});
    const uint64_t seen = q.state().epoch;  // the monitor's pass works under this

    // A second Query starts and succeeds while the monitor's exchange fails.
    q.begin();
    q.succeeded(Switches{0, 1, 2, 4});
    q.clear(seen);
    EXPECT_TRUE(q.state().queried) << "an old failure cleared a newer Query's success";
    EXPECT_EQ(q.state().switches, (Switches{0, 1, 2, 4}));

    // A Query still running when the old failure lands: it is not cleared
    // either, and its success counts.
    const uint64_t seen2 = q.state().epoch;
    q.begin();
    q.clear(seen2);
    q.succeeded(Switches{});
    EXPECT_TRUE(q.state().queried);

    // A failure under the current epoch clears it.
    q.clear(q.state().epoch);
    EXPECT_FALSE(q.state().queried);
}

TEST(QueryEpochs, FailedQueryLeavesUnqueriedAndCountsDown) {
    QueryEpochs q;
    q.begin();
    q.succeeded(Switches{});
    q.begin();
    q.failed();
    EXPECT_FALSE(q.state().queried) << "a failed Query must leave the monitor idle";
    EXPECT_EQ(q.state().running, 0);

    // Two Queries overlap; the one that succeeds makes the state queried, the
    // other's failure afterwards takes nothing back.
    q.begin();
    q.begin();
    EXPECT_EQ(q.state().running, 2);
    q.succeeded(Switches{});
    q.failed();
    EXPECT_TRUE(q.state().queried);
    EXPECT_EQ(q.state().running, 0);
}

}  // namespace
