// The theatre profile: its texts, what its puts queue, and Query on the wire.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/model/CProfile.h"
#include "tests/model/ModelSupport.h"
#include "tests/support/XelsimProcess.h"

namespace {

using namespace modeltest;
using xel::core::CProfile;

using Get = HRESULT (CProfile::*)(BSTR*) noexcept;
using Put = HRESULT (CProfile::*)(BSTR) noexcept;
struct Field {
    Get get;
    Put put;
    uint16_t address;
    int size;
};
const Field kFields[] = {
    {&CProfile::get_TheaterNumber, &CProfile::put_TheaterNumber, 0x024, 32},
    {&CProfile::get_TheaterName, &CProfile::put_TheaterName, 0x044, 32},
    {&CProfile::get_ScreenNumber, &CProfile::put_ScreenNumber, 0x064, 4},
};

TEST(ProfileObject, TextsStartNullAndPutsKeepTheWholeText) {
    auto p = make<CProfile>();
    for (const Field& field : kFields) {
        BSTR b = reinterpret_cast<BSTR>(1);
        ASSERT_EQ((p.get()->*field.get)(&b), S_OK);
        EXPECT_EQ(b, nullptr) << "never stored: a null text";
        EXPECT_EQ((p.get()->*field.put)(nullptr), E_POINTER);
        EXPECT_EQ((p.get()->*field.get)(nullptr), E_POINTER);

        const std::u16string forty(40, u'7');
        ASSERT_EQ((p.get()->*field.put)(Bstr(forty).get()), S_OK);
        ASSERT_EQ((p.get()->*field.get)(&b), S_OK);
        EXPECT_EQ(take(b), forty) << "the get returns all of it until the next Query";
    }
    EXPECT_TRUE(p->pending().entries().empty()) << "not connected: nothing queued";
}

TEST(ProfileObject, LateBoundAcceptsAccessorFormsAndPVal) {
    auto p = make<CProfile>();
    IDispatch* d = static_cast<xel::IProfile*>(p.get());
    ASSERT_EQ(call(d, u"put_theatername", DISPATCH_PROPERTYPUT, {Variant(std::u16string_view(u"Roxy"))}), S_OK);
    Variant r;
    ASSERT_EQ(call(d, u"THEATERNAME", DISPATCH_PROPERTYGET, {}, r.put()), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(r.bstrVal), u"Roxy");
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"ScreenNumber"), const_cast<LPOLESTR>(u"pval")};
    DISPID ids[2] = {};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 3);
}

class ProfileOnUnit : public ::testing::Test {
protected:
    xeltest::XelsimProcess sim;
    SharedLink link{sim.address()};
    ComPtr<Object<CProfile>> p = make<CProfile>();
    void SetUp() override { ASSERT_TRUE(link.connected()) << sim.diagnostics(); }
};

TEST_F(ProfileOnUnit, PutsQueueTheFieldPaddedWithZeros) {
    ASSERT_EQ(p->put_TheaterName(Bstr(u"Odéon").get()), S_OK);
    EXPECT_EQ(queued(p->pending(), 0x044, 32), bytesOf("Od\xE9on", 32));
    ASSERT_EQ(p->put_ScreenNumber(Bstr(u"12").get()), S_OK);
    EXPECT_EQ(queued(p->pending(), 0x064, 4), (std::vector<int>{0x31, 0x32, 0, 0}));
    ASSERT_EQ(p->put_TheaterNumber(Bstr(std::u16string(40, u'9')).get()), S_OK);
    EXPECT_EQ(queued(p->pending(), 0x024, 33), bytesOf(std::string(32, '9') + "O", 33))
        << "only 32 characters; 0x044 still holds the name's first byte";
}

TEST_F(ProfileOnUnit, QueryReadsThreeFieldsAtTheirFullWidth) {
    ASSERT_EQ(p->put_TheaterName(Bstr(u"Le Grand Rex €").get()), S_OK);
    ASSERT_EQ(p->put_ScreenNumber(Bstr(u"12").get()), S_OK);
    flush(p->pending());
    auto q = make<CProfile>();
    ASSERT_EQ(q->Query(), S_OK);
    std::vector<std::string> sent = sim.receivedTexts();
    sent.erase(sent.begin(), sent.end() - 3);
    EXPECT_EQ(sent, (std::vector<std::string>{"rdeep 1F 24", "rdeep 1F 44", "rdeep 3 64"}));
    BSTR b = nullptr;
    ASSERT_EQ(q->get_TheaterName(&b), S_OK);
    EXPECT_EQ(take(b), padded(u"Le Grand Rex €", 32));
    ASSERT_EQ(q->get_ScreenNumber(&b), S_OK);
    EXPECT_EQ(take(b), padded(u"12", 4));
}

// The same reads over a serial line: xelsim on a pseudo-terminal reached as COM4.
TEST(ProfileOverSerial, QueryReadsTheUnitsTexts) {
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
    BSTR b = nullptr;
    ASSERT_EQ(p->get_ScreenNumber(&b), S_OK);
    EXPECT_EQ(take(b), padded(u"7", 4));
}

TEST(ProfileQueryFailure, StopsAtTheFirstFailedRead) {
    xeltest::XelsimProcess sim({"--drop-after", "3"});  // handshake and the theatre number
    sim.panel("poke 24 41 42");
    SharedLink link(sim.address());
    ASSERT_TRUE(link.connected()) << sim.diagnostics();
    auto p = make<CProfile>();
    EXPECT_EQ(p->Query(), 1);
    BSTR b = nullptr;
    ASSERT_EQ(p->get_TheaterNumber(&b), S_OK);
    EXPECT_EQ(take(b), padded(u"AB", 32));
    ASSERT_EQ(p->get_TheaterName(&b), S_OK);
    EXPECT_EQ(b, nullptr);
}

}  // namespace
