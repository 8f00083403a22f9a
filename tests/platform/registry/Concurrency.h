// Shared by the concurrency tests: a fixture with a steady value that every
// reader must always find, and checks that no write was lost.
#pragma once

#include "tests/platform/registry/RegistryFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace xeltest {

namespace reg = xel::registry;
using reg::Root;
using reg::Status;

// Checks that key holds v0..v(count-1) with their index as data.
inline void expectAllWrites(const std::string& key, int count) {
    const auto vals = reg::values(Root::CurrentUser, key);
    ASSERT_EQ(vals.size(), static_cast<std::size_t>(count)) << "writes lost in " << key;
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(vals[i].name, "v" + std::to_string(i));
        EXPECT_EQ(vals[i].number, static_cast<uint32_t>(i));
    }
}

// A reader running beside the writers; counts what it could not read.
class Watcher {
public:
    Watcher()
        : thread_([this] {
              while (!stop_.load()) {
                  std::string s;
                  if (reg::readString(Root::CurrentUser, "Steady", "", s) != Status::Ok || s != "here") ++misses_;
                  ++reads_;
                  // Leave the processors to the writers most of the time.
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~Watcher() {
        if (thread_.joinable()) stop();
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    int stop() {
        stop_ = true;
        thread_.join();
        return misses_;
    }
    int reads() const { return reads_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> misses_{0};
    std::atomic<int> reads_{0};
    std::thread thread_;
};

class RegistryConcurrency : public RegistryTest {
protected:
    bool inMemory() const override { return true; }

    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(reg::setString(Root::CurrentUser, "Steady", "", "here"), Status::Ok);
    }

    void expectNoDamage() {
        EXPECT_TRUE(filesStartingWith("registry.json.corrupt").empty());
        EXPECT_TRUE(filesStartingWith("registry.json.tmp").empty());
        EXPECT_EQ(newWarning(), "");
    }
};

}  // namespace xeltest
