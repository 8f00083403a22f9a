// The client's pure helpers: the setip host bits, addresses, numbers,
// switches, the console's trim text and the shell's word splitting.
#include <gtest/gtest.h>

#include "tools/xelctl/Text.h"

using namespace xelctl;

TEST(SetIpMask, HostBitsAreTheMasksTrailingZeroBits) {
    struct Row {
        const char* mask;
        int hostBits;
        const char* canonical;
    };
    const Row rows[] = {
        {"255.255.255.0", 8, "255.255.255.0"},     {"255.255.0.0", 16, "255.255.0.0"},
        {"255.255.255.128", 7, "255.255.255.128"}, {"255.0.255.0", 8, "255.255.255.0"},
        {"255.255.255.255", 0, "255.255.255.255"}, {"128.0.0.0", 31, "128.0.0.0"},
        {"0.0.0.1", 0, "255.255.255.255"},         {"0.0.0.0", 33, "0.0.0.0"},
    };
    for (const Row& r : rows) {
        const auto mask = parseIPv4(r.mask);
        ASSERT_TRUE(mask) << r.mask;
        EXPECT_EQ(hostBitsOfMask(*mask), r.hostBits) << r.mask;
        EXPECT_EQ(formatIPv4(canonicalMask(hostBitsOfMask(*mask))), r.canonical) << r.mask;
    }
    EXPECT_EQ(canonicalMask(32), 0u);
}

TEST(Addresses, DottedQuadsOnlyInTheirStrictForm) {
    EXPECT_EQ(parseIPv4("192.168.1.50"), 0xC0A80132u);
    EXPECT_EQ(parseIPv4("0.0.0.0"), 0u);
    EXPECT_EQ(parseIPv4("10.000.0.254"), 0x0A0000FEu);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "a.b.c.d", "1..2.3",
                            "1234.1.1.1", "1.2.3.-4", "1.2.3.4."})
        EXPECT_FALSE(parseIPv4(bad)) << '"' << bad << '"';
    EXPECT_EQ(formatIPv4(0xC0A80132u), "192.168.1.50");
}

TEST(Numbers, DecimalHexSignsAndRanges) {
    EXPECT_EQ(parseInteger("12", 0, 255), 12);
    EXPECT_EQ(parseInteger("-3", -10, 10), -3);
    EXPECT_EQ(parseInteger("+7", 0, 10), 7);
    EXPECT_EQ(parseInteger("0x1F", 0, 255), 31);
    EXPECT_EQ(parseInteger("&Hff", 0, 255), 255);
    EXPECT_EQ(parseInteger("-2147483648", INT32_MIN, INT32_MAX), INT32_MIN);
    for (const char* bad : {"", "-", "0x", "12a", "1 2", "0x1G", "99999999999999999999", "1.5"})
        EXPECT_FALSE(parseInteger(bad, INT64_MIN / 2, INT64_MAX / 2)) << '"' << bad << '"';
    EXPECT_FALSE(parseInteger("256", 0, 255));
    EXPECT_FALSE(parseInteger("2147483648", INT32_MIN, INT32_MAX));
}

TEST(Numbers, HexadecimalBeyondSixtyFourBitsIsRefusedNotWrapped) {
    EXPECT_FALSE(parseInteger("0xFFFFFFFFFFFFFFFFFF", INT64_MIN, INT64_MAX));
    EXPECT_FALSE(parseInteger("&H8000000000000000", INT64_MIN, INT64_MAX));
    EXPECT_EQ(parseInteger("0x7FFFFFFFFFFFFFFF", INT64_MIN, INT64_MAX), INT64_MAX);
    EXPECT_EQ(parseInteger("-&H7fffffffffffffff", INT64_MIN, INT64_MAX), -INT64_MAX);
}

TEST(Switches, OnOffInTheOperatorsWords) {
    for (const char* on : {"on", "ON", "true", "Yes", "1", "-1"}) EXPECT_EQ(parseSwitch(on), true) << on;
    for (const char* off : {"off", "False", "no", "0"}) EXPECT_EQ(parseSwitch(off), false) << off;
    for (const char* bad : {"", "maybe", "2", "onn"}) EXPECT_FALSE(parseSwitch(bad)) << bad;
}

TEST(TrimText, AsTheConsoleWritesTenthsOfADecibel) {
    const std::pair<long, const char*> rows[] = {{180, "18.0dB"},   {5, "0.5dB"},  {0, "0.0dB"},    {-5, "-0.5dB"},
                                                 {-200, "-20.0dB"}, {10, "1.0dB"}, {-15, "-1.5dB"}, {60, "6.0dB"}};
    for (const auto& [tenths, text] : rows) EXPECT_EQ(trimText(tenths), text) << tenths;
}

TEST(UnitTexts, CutAtTheFirstNulAndConvertedToUtf8) {
    EXPECT_EQ(cutAtNul(std::u16string(u"Grand\0\0\0", 8)), "Grand");
    EXPECT_EQ(cutAtNul(std::u16string(u"\0abc", 4)), "");
    EXPECT_EQ(cutAtNul(u"Caf\u00e9"), "Caf\xC3\xA9");
}

TEST(ShellLines, WordsQuotesEscapesAndComments) {
    using Words = std::vector<std::string>;
    const std::pair<const char*, Words> rows[] = {
        {"set Profile.TheaterName \"Grand Hall\"", {"set", "Profile.TheaterName", "Grand Hall"}},
        {"  get\tFormat.Pin  ", {"get", "Format.Pin"}},
        {"a 'b c' d", {"a", "b c", "d"}},
        {"a\"b c\"d", {"ab cd"}},
        {"say \"x\\\"y\\\\z\"", {"say", "x\"y\\z"}},
        {"send \"mute\\r\"", {"send", "mute\r"}},
        {"\"\"", {""}},
        {"# a comment", {}},
        {"get Xel.Mute # why", {"get", "Xel.Mute"}},
        {"set Profile.TheaterName No#1", {"set", "Profile.TheaterName", "No#1"}},
        {"", {}},
        {"query\r", {"query"}},
    };
    for (const auto& [line, words] : rows) {
        const auto got = splitShellLine(line);
        ASSERT_TRUE(got) << line;
        EXPECT_EQ(*got, words) << line;
    }
    EXPECT_FALSE(splitShellLine("x \"unterminated"));
    EXPECT_FALSE(splitShellLine("x 'unterminated"));
}
