// The theatre profile: its texts, what its puts queue, and Query on the wire.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/model/CProfile.h"
#include "tests/core/model/ModelSupport.h"
#include "tests/support/XelsimProcess.h"

namespace {

using namespace modeltest;
using xel::core::CProfile;

std::u16string text(CProfile* p, HRESULT (CProfile::*get)(BSTR*) noexcept, bool* isNull = nullptr) {
    BSTR b = nullptr;
    EXPECT_EQ((p->*get)(&b), S_OK);
    if (isNull) *isNull = b == nullptr;
    return take(b);
}

TEST(ProfileObject, TextsStartNullAndPutsKeepTheWholeText) {
    auto p = make<CProfile>();
    for (auto [get, put] : {std::pair{&CProfile::get_TheaterNumber, &CProfile::put_TheaterNumber},
                            std::pair{&CProfile::get_TheaterName, &CProfile::put_TheaterName},
                            std::pair{&CProfile::get_ScreenNumber, &CProfile::put_ScreenNumber}}) {
        bool isNull = false;
        text(p.get(), get, &isNull);
        EXPECT_TRUE(isNull) << "never stored: a null text";
        EXPECT_EQ((p.get()->*put)(nullptr), E_POINTER);
        EXPECT_EQ((p.get()->*get)(nullptr), E_POINTER);
        ASSERT_EQ((p.get()->*put)(Bstr(std::u16string(40, u'7')).get()), S_OK);
        EXPECT_EQ(text(p.get(), get), std::u16string(40, u'7')) << "all of it until the next Query";
    }
    EXPECT_TRUE(p->pending().entries().empty()) << "not connected: nothing queued";

    IDispatch* d = static_cast<xel::IProfile*>(p.get());
    ASSERT_EQ(call(d, u"put_theatername", DISPATCH_PROPERTYPUT, {Variant(std::u16string_view(u"Roxy"))}), S_OK);
    EXPECT_EQ(text(p.get(), &CProfile::get_TheaterName), u"Roxy");
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"SCREENNUMBER"), const_cast<LPOLESTR>(u"pval")};
    DISPID ids[2] = {};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 3);
}

TEST(ProfileOnUnit, PutsQueueTheFieldAndTheUnitGivesItBackFullWidth) {
    xeltest::XelsimProcess sim;
    SharedLink link(sim.address());
    ASSERT_TRUE(link.connected()) << sim.diagnostics();
    auto p = make<CProfile>();
    p->put_TheaterName(Bstr(u"Odéon €").get());
    EXPECT_EQ(queued(p->pending(), 0x044, 32), bytesOf("Od\xE9on \x80", 32));
    p->put_ScreenNumber(Bstr(u"12").get());
    EXPECT_EQ(queued(p->pending(), 0x064, 4), (std::vector<int>{0x31, 0x32, 0, 0}));
    p->put_TheaterNumber(Bstr(std::u16string(40, u'9')).get());
    EXPECT_EQ(queued(p->pending(), 0x024, 33), bytesOf(std::string(32, '9') + "O", 33)) << "only 32 characters";

    flush(p->pending());
    auto q = make<CProfile>();
    ASSERT_EQ(q->Query(), S_OK);
    EXPECT_EQ(text(q.get(), &CProfile::get_TheaterName), padded(u"Odéon €", 32));
    EXPECT_EQ(text(q.get(), &CProfile::get_ScreenNumber), padded(u"12", 4));
}

// The reads over a serial line: xelsim on a pseudo-terminal reached as COM4.
TEST(ProfileOverSerial, QueryReadsThreeFieldsInOrder) {
    xeltest::XelsimProcess sim({}, xeltest::XelsimProcess::Link::Pty);
    const char* home = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(home, nullptr);
    const std::filesystem::path ports = std::filesystem::path(home) / "xelor" / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::remove(ports / "COM4");
    std::filesystem::create_symlink(sim.linkPath(), ports / "COM4");
    sim.panel("poke 64 37 0 0 0");
    SharedLink link("COM4");
    ASSERT_TRUE(link.connected()) << sim.diagnostics();
    auto p = make<CProfile>();
    ASSERT_EQ(p->Query(), S_OK);
    EXPECT_EQ(sim.receivedTexts(),
              (std::vector<std::string>{"checksum 1", "picver", "rdeep 1F 24", "rdeep 1F 44", "rdeep 3 64"}));
    EXPECT_EQ(text(p.get(), &CProfile::get_ScreenNumber), padded(u"7", 4));
}

TEST(ProfileQueryFailure, StopsAtTheFirstFailedRead) {
    xeltest::XelsimProcess sim({"--drop-after", "3"});  // the handshake and the theatre number
    sim.panel("poke 24 41 42 0");
    SharedLink link(sim.address());
    ASSERT_TRUE(link.connected()) << sim.diagnostics();
    auto p = make<CProfile>();
    EXPECT_EQ(p->Query(), 1);
    EXPECT_EQ(text(p.get(), &CProfile::get_TheaterNumber), padded(u"AB", 32));
    bool isNull = false;
    text(p.get(), &CProfile::get_TheaterName, &isNull);
    EXPECT_TRUE(isNull);
}

}  // namespace
