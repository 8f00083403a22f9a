// Registration of the build's core library (libxelor.so) into the test's own
// state folder ($XDG_CONFIG_HOME/xelor), so objects can be created by ProgID.
//
//   TEST(Core, CreatesByProgId) {
//       ASSERT_TRUE(xeltest::registerCore());
//       ...CLSIDFromProgID(u"Xelor.Xel", &clsid)...
//   }
//
// Runs the build's `regsvr` once per process (again only if XDG_CONFIG_HOME has
// changed since); a failure carries regsvr's output and exit status.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace xeltest {

::testing::AssertionResult registerCore();

// The build's core library file.
std::string coreLibraryPath();

}  // namespace xeltest
