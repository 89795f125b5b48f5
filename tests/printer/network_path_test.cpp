// SPDX-License-Identifier: MIT
// Which network paths name another computer. An internal of the driver
// loader, so tested here, where the suite links the static library; the
// driver suite links libklv.so.
#include <gtest/gtest.h>

#include <string>

#include "klv/platform.h"
#include "printer/driver_loader.h"

namespace {

TEST(DriverLoader, NetworkPathsOfOtherComputers) {
  EXPECT_TRUE(klv::printer::is_remote_network_path("\\\\klv-no-such-host\\share\\drv.dll"));
  EXPECT_FALSE(klv::printer::is_remote_network_path("/usr/lib/drv.so"));
  EXPECT_FALSE(klv::printer::is_remote_network_path("\\\\\\share"));
  const std::string here = klv::platform::ComputerName();
  if (!here.empty()) {
    EXPECT_FALSE(klv::printer::is_remote_network_path("\\\\" + here + "\\share\\drv.dll"));
  }
}

}  // namespace
