// The format object's puts on the client's thread while a monitor-like thread
// flushes its table and mirrors the live switches: nothing queued is lost, and
// the unit ends up with exactly what the object holds.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "core/model/CFormat.h"
#include "tests/connection/ScriptedPeer.h"
#include "tests/model/ModelSupport.h"

namespace {

using namespace modeltest;
using xel::core::CFormat;
using xel::core::FormatRecord;

TEST(FormatConcurrency, FlushesBesidePutsLoseNothing) {
    xeltest::ScriptedPeer peer;  // only for a connected link: the test sends nothing itself
    SharedLink link(peer.address());
    ASSERT_TRUE(link.connected());
    auto f = make<CFormat>();

    std::map<uint16_t, int> unit;  // what the "monitor" would have written, latest per address
    std::atomic<bool> done{false};
    std::thread monitor([&] {
        for (int n = 0;; ++n) {
            const bool last = done.load();
            while (auto run = f->pending().takeRun())
                for (size_t i = 0; i < run->values.size(); ++i)
                    unit[static_cast<uint16_t>(run->address + i)] = run->values[i] & 0xFF;
            f->setPin(n & 15);
            (void)f->currentFormat();
            if (last) break;
        }
    });
    for (int i = 0; i < 3000; ++i) {
        const int record = i % 8;
        EXPECT_EQ(f->put_InputTrim(record, i), S_OK);
        EXPECT_EQ(f->put_SurroundDelay(record, i * 7), S_OK);
        if (i % 500 == 0) {
            EXPECT_EQ(f->put_FormatName(record, Bstr(u"Renamed").get()), S_OK);
        }
        f->setCurrentFormat(record);
    }
    done = true;
    monitor.join();

    for (int r = 0; r < 8; ++r) {
        FormatRecord held;
        ASSERT_EQ(f->GetFormatRecord(r, held.bytes), S_OK);
        for (int b = 0; b < 24; ++b) {
            const auto a = static_cast<uint16_t>(xel::core::formatRecordAddress(r) + b);
            ASSERT_TRUE(unit.count(a)) << "record " << r << " byte " << b << " never written";
            EXPECT_EQ(unit[a], held.bytes[b]) << "record " << r << " byte " << b;
        }
    }
}

}  // namespace
