// Discovery through the reader, on registries built for each case: which
// instances are filed, their order, the capacity and the prune.
#include <gtest/gtest.h>

#include <string>

#include "parlod_state_test.h"

using namespace parlod_test;

namespace {

using DiscoveryTest = ParlodStateTest;

std::string Instance(const std::string &path, const std::string &description,
                     const std::string &deviceClass = "hdc",
                     const std::string &extra = "") {
    return Key(path, {{"Class", deviceClass}, {"DeviceDesc", description}},
               extra);
}

std::string Name(ControllerEntry **list, LONG count, int k) {
    if (k >= count) return "missing";
    return list[k] == NULL ? "null" : list[k]->InstanceName;
}

TEST_F(DiscoveryTest, MatchesByClassAndWholeDescriptionIgnoringCase) {
    const std::string dir = ENUM + "\\ESDI\\ANY\\";
    ReadWith(
        "#4\n",
        Instance(dir + "one", "PRIMARY qvr bus master ide CONTROLLER") +
            Instance(dir + "two", "Primary QVR Bus Master IDE controller ") +
            Instance(dir + "three", " " + SECONDARY) +
            Instance(dir + "four", SECONDARY, "HDC") +
            Instance(dir + "five", PRIMARY, "hdcx") +
            Key(dir + "six", {{"Class", "hdc"}}) +
            Key(dir + "seven", {{"DeviceDesc", PRIMARY}}));
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(PrimaryCount, 1);
    EXPECT_EQ(SecondaryCount, 1);
    EXPECT_EQ(Name(PrimaryList, PrimaryCount, 0), "one");
    EXPECT_EQ(Name(SecondaryList, SecondaryCount, 0), "four");
}

TEST_F(DiscoveryTest, NoMatchingInstance) {
    ReadWith("#2\n", Instance(ENUM + "\\MF\\CHILD0000\\x", "other"));
    EXPECT_EQ(LoadStatus, ST_NO_DEVICE_FOUND | ST_NOTHING_TO_SET);
    ResetParlodState();
    ReadWith("#2\n", "");
    EXPECT_EQ(LoadStatus, ST_NO_DEVICE_FOUND | ST_NOTHING_TO_SET);
}

TEST_F(DiscoveryTest, CapacityInEnumerationOrder) {
    const std::string dir = ENUM + "\\MF\\CHILD0000\\";
    ReadWith("#1\n", Instance(dir + "PCI&VEN_7A3C&DEV_0528&ZZ", PRIMARY) +
                         Instance(dir + "PCI&VEN_7A3C&DEV_0528&AA", PRIMARY));
    EXPECT_EQ(PrimaryCount, 1);
    EXPECT_EQ(Name(PrimaryList, PrimaryCount, 0), "PCI&VEN_7A3C&DEV_0528&ZZ");
}

TEST_F(DiscoveryTest, SameDescriptionsFillPrimaryFirst) {
    const std::string dir = ENUM + "\\MF\\CHILD0000\\";
    ReadWith("#2 /DS\"" + PRIMARY + "\"\n",
             Instance(dir + "a", PRIMARY) + Instance(dir + "b", PRIMARY) +
                 Instance(dir + "c", PRIMARY) + Instance(dir + "d", PRIMARY) +
                 Instance(dir + "e", PRIMARY));
    EXPECT_EQ(PrimaryCount, 2);
    EXPECT_EQ(SecondaryCount, 2);
    EXPECT_EQ(Name(SecondaryList, SecondaryCount, 0), "c");
    EXPECT_EQ(Name(SecondaryList, SecondaryCount, 1), "d");
}

TEST_F(DiscoveryTest, SortSkipsTheSharedPrefixUnlessANameIsShort) {
    const std::string p = ENUM + "\\MF\\CHILD0000\\";
    const std::string s = ENUM + "\\MF\\CHILD0001\\";
    // Primary names differ inside the first 22 characters; only the part
    // after them decides. One short secondary name sorts that list whole.
    ReadWith("#3\n", Instance(p + "PCI&VEN_7A3C&DEV_0525&B", PRIMARY) +
                         Instance(p + "PCI&VEN_7A3C&DEV_0528&c", PRIMARY) +
                         Instance(p + "PCI&VEN_7A3C&DEV_0528&A", PRIMARY) +
                         Instance(s + "PCI&VEN_7A3C&DEV_0528&B", SECONDARY) +
                         Instance(s + "PCI&VEN_7A3C&DEV_0525", SECONDARY) +
                         Instance(s + "PCI&VEN_7A3C&DEV_0528&A", SECONDARY));
    EXPECT_EQ(Name(PrimaryList, 3, 0), "PCI&VEN_7A3C&DEV_0528&A");
    EXPECT_EQ(Name(PrimaryList, 3, 1), "PCI&VEN_7A3C&DEV_0525&B");
    EXPECT_EQ(Name(PrimaryList, 3, 2), "PCI&VEN_7A3C&DEV_0528&c");
    EXPECT_EQ(Name(SecondaryList, 3, 0), "PCI&VEN_7A3C&DEV_0525");
    EXPECT_EQ(Name(SecondaryList, 3, 1), "PCI&VEN_7A3C&DEV_0528&A");
    EXPECT_EQ(Name(SecondaryList, 3, 2), "PCI&VEN_7A3C&DEV_0528&B");
}

TEST_F(DiscoveryTest, NameOfExactly22CharactersSortsWhole) {
    const std::string p = ENUM + "\\MF\\CHILD0000\\";
    ReadWith("#2\n", Instance(p + "PCI&VEN_7A3C&DEV_0528&", PRIMARY) +
                         Instance(p + "PCI&VEN_7A3C&DEV_0525&Z", PRIMARY));
    EXPECT_EQ(Name(PrimaryList, 2, 0), "PCI&VEN_7A3C&DEV_0525&Z");
    EXPECT_EQ(Name(PrimaryList, 2, 1), "PCI&VEN_7A3C&DEV_0528&");
}

TEST_F(DiscoveryTest, SettingsTooLongForTheBufferCountAsMissing) {
    const std::string dir = ENUM + "\\MF\\CHILD0000\\";
    ReadWith("#2\n*new\n", Instance(dir + "a", PRIMARY, "hdc",
                                    "\"AdapterSettings\"=\"" +
                                        std::string(300, 's') + "\"\n") +
                               Instance(dir + "b", PRIMARY, "hdc",
                                        "\"AdapterSettings\"=\"" +
                                            std::string(255, 's') + "\"\n"));
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(Name(PrimaryList, 2, 0), "a");
    EXPECT_EQ(PrimaryList[0]->NeedsSettings, 1);
    EXPECT_EQ(Name(PrimaryList, 2, 1), "null");  // 255 characters fit
}

TEST_F(DiscoveryTest, EveryEntryPrunedStillCountsAsFound) {
    Read("#2\n*A\n", 2, "old");
    EXPECT_EQ(LoadStatus, ST_NOTHING_TO_SET);
    EXPECT_EQ(PrimaryCount, 2);
    EXPECT_EQ(Name(PrimaryList, 2, 0), "null");
    EXPECT_EQ(Name(SecondaryList, 2, 1), "null");
}

TEST_F(DiscoveryTest, EnumerationEndsAtTheFirstFailedCall) {
    // A key name beyond the 256-byte buffer makes the enumeration call fail,
    // which ends the walk of that key's level only: the instance after it
    // under CHILD0000 is not seen, the other device key still is.
    const std::string dir = ENUM + "\\MF\\CHILD0000\\";
    ReadWith("#3\n*A\n*B\n",
             Instance(dir + "first", PRIMARY) +
                 Instance(dir + std::string(300, 'L'), PRIMARY) +
                 Instance(dir + "after", PRIMARY) +
                 Instance(ENUM + "\\MF\\CHILD0001\\second", SECONDARY));
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(PrimaryCount, 1);
    EXPECT_EQ(Name(PrimaryList, PrimaryCount, 0), "first");
    EXPECT_EQ(SecondaryCount, 1);
    EXPECT_EQ(Name(SecondaryList, SecondaryCount, 0), "second");
}

TEST_F(DiscoveryTest, UnterminatedClassIsComparedSafely) {
    // A "Class" of 256 bytes without a closing NUL matches nothing.
    const std::string dir = ENUM + "\\MF\\CHILD0000\\";
    std::string raw = "\"Class\"=hex(1):";
    for (int i = 0; i < 256; ++i) raw += i == 0 ? "68" : ",68";
    ReadWith("#1\n*A\n",
             Key(dir + "raw", {{"DeviceDesc", PRIMARY}}, raw + "\n") +
                 Instance(dir + "good", PRIMARY));
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(PrimaryCount, 1);
    EXPECT_EQ(Name(PrimaryList, 1, 0), "good");
    EXPECT_STREQ(PrimaryList[0]->ParameterText, "A");
}

}  // namespace
