// The udev rule for the unit's USB bridge matches exactly the devices the link
// driver takes for the bridge: its product description, in any letter case.
#include <fnmatch.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "linkdriver/BridgeIdentity.h"

namespace {

std::string ruleText() {
    std::ifstream in(XELOR_UDEV_RULE);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of KEY=="..." or KEY+="..." on the rule's line.
std::string field(const std::string& rule, const std::string& key) {
    const auto at = rule.find(key);
    if (at == std::string::npos) return "<no " + key + ">";
    const auto open = rule.find('"', at);
    const auto close = rule.find('"', open + 1);
    return rule.substr(open + 1, close - open - 1);
}

// As udev compares: each '|'-separated alternative a shell glob.
bool udevMatches(const std::string& pattern, const std::string& value) {
    std::stringstream alternatives(pattern);
    std::string one;
    while (std::getline(alternatives, one, '|'))
        if (::fnmatch(one.c_str(), value.c_str(), 0) == 0) return true;
    return false;
}

std::string withCase(std::string s, int (*change)(int)) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [&](char c) { return static_cast<char>(change(static_cast<unsigned char>(c))); });
    return s;
}

}  // namespace

TEST(UdevRule, MatchesTheDriversBridgeInAnyCaseAndNothingElse) {
    const std::string rule = ruleText();
    ASSERT_FALSE(rule.empty()) << "no rule at " << XELOR_UDEV_RULE;
    const std::string product = field(rule, "ATTRS{product}==");
    const std::string driver = xel::link::kBridgeIdentity;

    for (const std::string& seen : {driver, withCase(driver, ::toupper), withCase(driver, ::tolower)})
        EXPECT_TRUE(udevMatches(product, seen)) << "the rule misses \"" << seen << "\"; pattern " << product;
    std::string oneLetterOff = driver;
    oneLetterOff.back() = oneLetterOff.back() == 'x' ? 'y' : 'x';
    for (const std::string& other : {driver + " 2", driver.substr(1), oneLetterOff, std::string("USB Serial")})
        EXPECT_FALSE(udevMatches(product, other)) << "the rule takes \"" << other << "\" for the bridge";

    EXPECT_EQ(field(rule, "SUBSYSTEM=="), "tty");
    EXPECT_EQ(field(rule, "TAG+="), "uaccess");
    EXPECT_EQ(field(rule, "SYMLINK+="), "xelor-bridge");
    // The uaccess tag only counts when the rule runs before the seat's rules (73-).
    const std::string name = std::string(XELOR_UDEV_RULE).substr(std::string(XELOR_UDEV_RULE).rfind('/') + 1);
    EXPECT_LT(name, "73") << name;
}

// udev's own parser, where this machine has one that checks a file by itself.
TEST(UdevRule, UdevadmAcceptsIt) {
    if (std::system("udevadm verify --help >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no udevadm with a 'verify' command on this machine";
    const std::string command = std::string("udevadm verify '") + XELOR_UDEV_RULE + "' 2>&1";
    FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    EXPECT_EQ(::pclose(p), 0) << out;
}
