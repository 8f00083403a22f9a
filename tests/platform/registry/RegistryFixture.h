// A private state folder and machine layer per test, so each test starts from
// an empty registry.
#pragma once

#include "platform/registry/Registry.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace xeltest {

class RegistryTest : public testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("XDG_CONFIG_HOME");
        savedXdg_ = base != nullptr ? base : "";
        hadXdg_ = base != nullptr;
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = std::string("reg-") + info->test_suite_name() + "-" + info->name();
        std::string scratch = "/dev/shm/xelor-" + name + "-XXXXXX";
        if (inMemory() && ::mkdtemp(scratch.data()) != nullptr) {
            home_ = scratch;
        } else {
            const std::filesystem::path parent =
                (base != nullptr && base[0] == '/') ? base : std::filesystem::temp_directory_path();
            home_ = parent / name;
            std::filesystem::remove_all(home_);
            std::filesystem::create_directories(home_);
        }
        ::setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
        const char* system = std::getenv("XELOR_SYSTEM_ROOT");
        savedSystem_ = system != nullptr ? system : "";
        hadSystem_ = system != nullptr;
        ::setenv("XELOR_SYSTEM_ROOT", (home_ / "system").c_str(), 1);
        warningBefore_ = xel::registry::lastWarning();
    }

    // The last warning if this test raised one (warnings name the test's own
    // folder, so an earlier test's warning never looks new), else "".
    std::string newWarning() const {
        const std::string w = xel::registry::lastWarning();
        return w == warningBefore_ ? std::string() : w;
    }

    void TearDown() override {
        xel::registry::selectLayer(xel::registry::Layer::User);
        if (hadXdg_) {
            ::setenv("XDG_CONFIG_HOME", savedXdg_.c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        if (hadSystem_) {
            ::setenv("XELOR_SYSTEM_ROOT", savedSystem_.c_str(), 1);
        } else {
            ::unsetenv("XELOR_SYSTEM_ROOT");
        }
        std::error_code ec;
        std::filesystem::permissions(stateDir(), std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(home_, ec);
    }

    // Tests of many writes keep their folder in memory when the machine offers
    // one: flock and rename behave the same there, and a disk busy with other
    // work would make every flush to it slow.
    virtual bool inMemory() const { return false; }

    std::filesystem::path stateDir() const { return home_ / "xelor"; }
    std::filesystem::path file() const { return stateDir() / "registry.json"; }
    std::filesystem::path machineDir() const { return home_ / "system/var/lib/xelor"; }
    std::filesystem::path machineFile() const { return machineDir() / "registry.json"; }

    static std::string slurp(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static void spill(const std::filesystem::path& p, const std::string& bytes) {
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    // Files in the state folder whose name starts with prefix.
    std::vector<std::filesystem::path> filesStartingWith(const std::string& prefix) const {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(stateDir())) {
            if (e.path().filename().string().rfind(prefix, 0) == 0) found.push_back(e.path());
        }
        return found;
    }

    std::filesystem::path home_;

private:
    std::string warningBefore_;
    std::string savedXdg_;
    bool hadXdg_ = false;
    std::string savedSystem_;
    bool hadSystem_ = false;
};

}  // namespace xeltest
