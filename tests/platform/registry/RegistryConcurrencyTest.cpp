// Several threads writing at once: every write lands, every edit is whole, and
// no reader ever sees a damaged file.
#include "tests/platform/registry/Concurrency.h"

#include <atomic>
#include <thread>

namespace reg = xel::registry;
using reg::Root;
using reg::Status;
using xeltest::expectAllWrites;
using xeltest::RegistryConcurrency;
using xeltest::Watcher;

TEST_F(RegistryConcurrency, ThreadsWritingDifferentKeysLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kWrites = 250;
    Watcher watcher;
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t, &failures] {
            for (int i = 0; i < kWrites; ++i) {
                if (reg::setDword(Root::CurrentUser, "T" + std::to_string(t), "v" + std::to_string(i), i) !=
                    Status::Ok) {
                    ++failures;
                }
            }
        });
    }
    for (auto& w : writers) w.join();
    EXPECT_EQ(watcher.stop(), 0) << "a reader saw the registry without a value it always had";
    EXPECT_GT(watcher.reads(), 0);
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kThreads; ++t) expectAllWrites("T" + std::to_string(t), kWrites);
    expectNoDamage();
}

TEST_F(RegistryConcurrency, EditsFromSeveralThreadsAreEachWhole) {
    // Each edit writes a pair that must never be seen half done.
    constexpr int kThreads = 3;
    constexpr int kEdits = 100;
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEdits; ++i) {
                const uint32_t n = static_cast<uint32_t>(t * 1000 + i);
                EXPECT_EQ(reg::edit([n](reg::Editor& e) {
                              (void)e.setDword(Root::ClassesRoot, "Pair", "a", n);
                              return e.setDword(Root::ClassesRoot, "Pair", "b", n);
                          }),
                          Status::Ok);
                if (reg::getDword(Root::ClassesRoot, "Pair", "a").has_value()) {
                    const auto vals = reg::values(Root::ClassesRoot, "Pair");
                    if (vals.size() != 2 || vals[0].number != vals[1].number) ++torn;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(torn.load(), 0);
    expectNoDamage();
}

TEST_F(RegistryConcurrency, ReadersOfTheMachineFileNeverSeeAHalfReplacedOne) {
    // Machine reads take no lock: only the whole-file replace protects them.
    constexpr int kEdits = 150;
    reg::selectLayer(reg::Layer::Machine);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, seen{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const auto vals = reg::values(Root::ClassesRoot, "Pair");
                if (vals.empty()) continue;
                ++seen;
                if (vals.size() != 2 || vals[0].number != vals[1].number) ++torn;
            }
        });
    }
    for (int i = 0; i < kEdits; ++i) {
        const uint32_t n = static_cast<uint32_t>(i);
        ASSERT_EQ(reg::edit([n](reg::Editor& e) {
                      (void)e.setDword(Root::ClassesRoot, "Pair", "a", n);
                      return e.setDword(Root::ClassesRoot, "Pair", "b", n);
                  }),
                  Status::Ok);
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(seen.load(), 0);
    EXPECT_EQ(reg::getDword(Root::ClassesRoot, "Pair", "b"), static_cast<uint32_t>(kEdits - 1));
    EXPECT_EQ(newWarning(), "") << "a reader took the machine file for a damaged one";
}
