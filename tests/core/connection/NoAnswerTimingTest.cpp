// A unit whose link opens but which never answers, with the protocol's own
// pauses: the connect gives up only after the whole allowance.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/core/connection/CommFixture.h"
#include "tests/support/XelsimProcess.h"

namespace {

TEST(NoAnswer, ConnectReportsUnitNotFoundAfterTheFullAllowance) {
    xeltest::XelsimProcess sim({"--silent"});
    xeltest::CommHandle comm;
    comm.setAddress(sim.address());
    const auto start = std::chrono::steady_clock::now();
    HRESULT status = 0;
    EXPECT_EQ(comm.connect(&status), xel::CommErrUnitNotFound);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(comm.connected());
    // 3 s settle after the TCP connect, one read of about 2.7 s after
    // "checksum 1", three "picver" attempts of about 2.7 s each, 1 s to close.
    EXPECT_GE(took, std::chrono::milliseconds(3000 + 4 * 2700 + 1000));
    EXPECT_EQ(sim.receivedTexts(), (std::vector<std::string>{"checksum 1", "picver", "picver", "picver"}))
        << sim.diagnostics();
}

}  // namespace
