// Without NEMBRIX_REGISTRY (or with an invalid value) an instance meets the others on the machine-wide
// segment "nembrix_dry_registry_v2". Runs under the nembrix_registry resource lock; the segment is left
// in place, since live instances elsewhere on the machine may be using it.
#include "peerlink/NembrixSHM.h"
#include "tests/peerlink/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace nx {
namespace {

TEST(RegistryDefaultName, InstancesWithoutAValidEnvironmentNameMeetOnTheDefaultSegment) {
    const char* saved = std::getenv("NEMBRIX_REGISTRY");
    const std::string savedValue = saved ? saved : "";
    unsetenv("NEMBRIX_REGISTRY");
    NembrixSHM a;
    a.open();
    setenv("NEMBRIX_REGISTRY", "../not/valid", 1);
    NembrixSHM b;
    b.open();
    if (saved)
        setenv("NEMBRIX_REGISTRY", savedValue.c_str(), 1);
    else
        unsetenv("NEMBRIX_REGISTRY");

    EXPECT_STREQ(a.segmentName(), "nembrix_dry_registry_v2");
    EXPECT_STREQ(b.segmentName(), "nembrix_dry_registry_v2");
    ASSERT_TRUE(a.isConnected());
    ASSERT_TRUE(b.isConnected());
    EXPECT_TRUE(test::segmentExists("nembrix_dry_registry_v2"));
    EXPECT_EQ(test::segmentMode("nembrix_dry_registry_v2"), 0600);
    // They are on one segment: each lists the other.
    NembrixSHM::PeerInfo peers[kRegistrySlots];
    const int n = a.listPeers(peers, kRegistrySlots);
    bool found = false;
    for (int i = 0; i < n && i < kRegistrySlots; ++i) found = found || peers[i].instanceId == b.instanceId();
    EXPECT_TRUE(found);
}

} // namespace
} // namespace nx
