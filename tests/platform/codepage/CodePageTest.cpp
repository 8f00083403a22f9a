// Windows-1252 and UTF-8/UTF-16 conversion: the rows that differ from Latin-1,
// the bytes the code page leaves unassigned, and malformed input.
#include "platform/codepage/CodePage.h"

#include <gtest/gtest.h>

#include <string>

namespace cp = xel::cp;

namespace {

struct Row {
    unsigned char byte;
    char16_t unit;
};

// Rows where a table slip would go unnoticed by plain ASCII tests.
constexpr Row kAwkwardRows[] = {
    {0x00, 0x0000}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x82, 0x201A}, {0x8A, 0x0160}, {0x8D, 0x008D},
    {0x8E, 0x017D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018}, {0x96, 0x2013}, {0x99, 0x2122}, {0x9D, 0x009D},
    {0x9E, 0x017E}, {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
};

std::string allBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s;
}

}  // namespace

TEST(CodePage, AwkwardRowsMapBothWays) {
    for (const Row& r : kAwkwardRows) {
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(r.byte));
        EXPECT_EQ(cp::toUtf16(static_cast<char>(r.byte)), r.unit);
        EXPECT_EQ(cp::fromUtf16(std::u16string(1, r.unit)), std::string(1, static_cast<char>(r.byte)));
        EXPECT_TRUE(cp::isMappable(r.unit));
    }
}

TEST(CodePage, EveryByteRoundTripsAndIsDistinct) {
    const std::string bytes = allBytes();
    const std::u16string wide = cp::toUtf16(bytes);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(cp::fromUtf16(wide), bytes);
    // No two bytes share a character, or the way back would be ambiguous.
    for (std::size_t i = 0; i < wide.size(); ++i)
        for (std::size_t j = i + 1; j < wide.size(); ++j) ASSERT_NE(wide[i], wide[j]) << "bytes " << i << " and " << j;
    // The same through UTF-8, as INI files and the registry see it.
    EXPECT_EQ(cp::utf8ToAnsi(cp::ansiToUtf8(bytes)), bytes);
    EXPECT_EQ(cp::utf16ToUtf8(wide), cp::ansiToUtf8(bytes));
}

TEST(CodePage, UnmappableCharactersBecomeOneQuestionMarkEach) {
    EXPECT_EQ(cp::fromUtf16(u"A\u0100B"), "A?B");                                   // Latin Extended-A outside the page
    EXPECT_EQ(cp::fromUtf16(u"\u0080\u009F"), "??");                                // C1 controls the page reassigned
    EXPECT_EQ(cp::fromUtf16(u"x\U0001F3B5y"), "x?y");                               // a surrogate pair is one character
    EXPECT_EQ(cp::fromUtf16(std::u16string{u'a', char16_t(0xD800), u'b'}), "a?b");  // lone high
    EXPECT_EQ(cp::fromUtf16(std::u16string{char16_t(0xDC00)}), "?");                // lone low
    EXPECT_EQ(cp::utf8ToAnsi("\xC4\x80-\xE2\x82\xAC"), "?-\x80");                   // U+0100, then the euro sign
    EXPECT_FALSE(cp::isMappable(0x0100));
    EXPECT_FALSE(cp::isMappable(0x0080));
    EXPECT_EQ(cp::fromCodePoint(0x20AC), '\x80');
    EXPECT_EQ(cp::fromCodePoint(0x110000), '?');
}

TEST(CodePage, EmbeddedNulsAreKept) {
    const std::string text("NAME\0\0\0", 7);
    EXPECT_EQ(cp::toUtf16(text).size(), 7u);
    EXPECT_EQ(cp::fromUtf16(cp::toUtf16(text)), text);
}

TEST(Utf8, WellFormedTextRoundTrips) {
    const std::string samples[] = {
        "",
        "plain",
        "Caf\xC3\xA9",
        "\xE2\x82\xAC 5",  // 2- and 3-byte forms
        "\xF0\x9F\x8E\xB5",
        "\xF4\x8F\xBF\xBF",  // 4-byte, the last code point
        "\xEF\xBF\xBD",
        std::string("a\0b", 3),
    };
    for (const std::string& s : samples) {
        SCOPED_TRACE(s);
        EXPECT_TRUE(cp::isValidUtf8(s));
        EXPECT_EQ(cp::utf16ToUtf8(cp::utf8ToUtf16(s)), s);
    }
    EXPECT_EQ(cp::utf8ToUtf16("\xF0\x9F\x8E\xB5"), u"\U0001F3B5");
    EXPECT_EQ(cp::utf8ToUtf16("\xC3\xA9"), u"\u00E9");
}

TEST(Utf8, MalformedInputBecomesReplacementPerIllFormedPart) {
    struct Case {
        std::string in;
        std::u16string out;
    };
    const Case cases[] = {
        {"\x80", u"\uFFFD"},                                // stray continuation byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/', both bytes invalid
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82", u"\uFFFD"},                            // truncated: one part
        {"\xE2\x82"
         "A",
         u"\uFFFDA"},  // truncated, next byte kept
        {"\xF0\x9F\x8E", u"\uFFFD"},
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_FALSE(cp::isValidUtf8(c.in));
        EXPECT_EQ(cp::utf8ToUtf16(c.in), c.out);
    }
    // A lone surrogate cannot be written as UTF-8.
    EXPECT_EQ(cp::utf16ToUtf8(std::u16string{u'x', char16_t(0xDBFF)}), "x\xEF\xBF\xBD");
}
