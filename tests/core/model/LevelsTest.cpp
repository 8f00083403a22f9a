// The level meters: how a "vu" reply lands in the eight channels, and that a
// reading is handed out whole while the monitor keeps storing new ones.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/model/CVU.h"
#include "tests/core/model/ModelSupport.h"

namespace {

using namespace modeltest;
using xel::core::CVU;

std::vector<LONG> levels(CVU* vu) {
    std::vector<LONG> v(8, -1);
    EXPECT_EQ(vu->ReadLevels(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]), S_OK);
    return v;
}

TEST(LevelMeters, ReplyValuesCarryChannelPairs) {
    auto vu = make<CVU>();
    EXPECT_EQ(levels(vu.get()), std::vector<LONG>(8, 0)) << "zero before the first reading";
    const LONG reply[4] = {0xFFF000, 0x000FFF, 0x123456, static_cast<LONG>(0xFF001002)};
    vu->storeReading(reply);
    EXPECT_EQ(levels(vu.get()), (std::vector<LONG>{4095, 0, 0, 4095, 0x123, 0x456, 1, 2}))
        << "bits above 23 belong to no channel";
    LONG x = 0;
    EXPECT_EQ(vu->ReadLevels(&x, &x, &x, &x, &x, &x, &x, nullptr), E_POINTER);
}

// A reader never sees half of one reading and half of the next.
TEST(LevelMeters, ReadingsAreHandedOutWhole) {
    auto vu = make<CVU>();
    std::atomic<bool> stop{false};
    std::thread monitor([&] {
        for (int32_t n = 0; !stop.load(); n = (n + 1) & 0xFFF) {
            const int32_t set[8] = {n, n, n, n, n, n, n, n};
            vu->storeLevels(set);
        }
    });
    int mixed = 0;
    for (int i = 0; i < 20000; ++i) {
        const auto v = levels(vu.get());
        for (LONG x : v) mixed += x != v[0];
    }
    stop = true;
    monitor.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
