// The simulator's parts that tests rely on.
#include <gtest/gtest.h>

#include "hostsim/parameters.h"

namespace tsl::hostsim {
namespace {

TEST(HostsimParameters, TextConvertsWhenRead) {
  Parameters p;
  EXPECT_EQ(p.text("unset"), "");
  EXPECT_EQ(p.integer("unset"), 0);
  EXPECT_EQ(p.real("unset"), 0.0f);
}

}  // namespace
}  // namespace tsl::hostsim
