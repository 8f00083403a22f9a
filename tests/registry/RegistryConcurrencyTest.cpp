// Several writers at once, in threads and in processes: every write lands and
// no reader ever sees a damaged file.
#include "tests/registry/RegistryFixture.h"
#include "tests/support/Loopback.h"

#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace reg = xel::registry;
using reg::Root;
using reg::Status;
using xeltest::RegistryTest;

namespace {

// Checks that key holds v0..v(count-1) with their index as data.
void expectAllWrites(const std::string& key, int count) {
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
          }
        }) {}
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

}  // namespace

class RegistryConcurrency : public RegistryTest {
protected:
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

TEST_F(RegistryConcurrency, ThreadsWritingDifferentKeysLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kWrites = 250;
  Watcher watcher;
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t, &failures] {
      for (int i = 0; i < kWrites; ++i) {
        if (reg::setDword(Root::CurrentUser, "T" + std::to_string(t), "v" + std::to_string(i), i) != Status::Ok) {
          ++failures;
        }
      }
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(watcher.stop(), 0) << "a reader saw the registry without a value it always had";
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

TEST_F(RegistryConcurrency, ProcessesWritingDifferentKeysLoseNothing) {
  constexpr int kWrites = 1000;
  const std::string helper = xeltest::binDir() + "/registry_writer";
  ASSERT_EQ(::access(helper.c_str(), X_OK), 0) << helper << " is missing";
  Watcher watcher;
  std::vector<pid_t> children;
  for (const char* key : {"ProcessA", "ProcessB"}) {
    const std::string count = std::to_string(kWrites);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::execl(helper.c_str(), helper.c_str(), key, count.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer process failed, status " << status;
  }
  EXPECT_EQ(watcher.stop(), 0) << "a reader saw the registry without a value it always had";
  expectAllWrites("ProcessA", kWrites);
  expectAllWrites("ProcessB", kWrites);
  expectNoDamage();
}
