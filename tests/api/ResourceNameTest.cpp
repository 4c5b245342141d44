// Names that reach a resource URL are refused when they would address a
// different resource.
#include <string>

#include <gtest/gtest.h>

#include "KxSnapAzureUtils.h"

namespace {

TEST(ResourceName, PlainNamesPass) {
    for (const std::string name : {"snap-1", "s1_3_CLONE", "data.disk_1", "a..b"}) {
        EXPECT_TRUE(ValidateAzureResourceName(name).IsSuccess()) << name;
    }
}

TEST(ResourceName, SeparatorsEscapesBlanksAndDotsAreRefused) {
    const std::string refused[] = {"",     "a/b",  "a?b", "a#b", "a%2Fb", "a b",
                                   "a\tb", "a\nb", "..",  ".",   "a\\b",  std::string("a\0b", 3),
                                   "a\x7f"};
    for (const std::string& name : refused) {
        const CUxError err = ValidateAzureResourceName(name);
        EXPECT_EQ(err.Code(), 774) << name;
        EXPECT_NE(err.Message().find("Invalid Azure resource name"), std::string::npos);
    }
}

TEST(ResourcePath, SegmentsAreCheckedOneByOne) {
    EXPECT_TRUE(ValidateAzureResourcePath(
                    "/subscriptions/s/resourceGroups/RG/providers/Microsoft.Compute/disks/d1")
                    .IsSuccess());
    EXPECT_TRUE(ValidateAzureResourcePath(
                    "subscriptions/s/resourceGroups/RG/providers/Microsoft.Compute/snapshots/s")
                    .IsSuccess());
    for (const std::string path : {"", "/", "subscriptions/s/../other", "disks/d1?x=1", "disks/d 1",
                                   "disks/d1#frag", "disks/%2e%2e"}) {
        EXPECT_EQ(ValidateAzureResourcePath(path).Code(), 774) << path;
    }
}

}  // namespace
