// FindInfWithKey on a loaded emulated machine: which file it finds, the
// count it gives and what the path buffer holds afterwards.
#include <gtest/gtest.h>

#include <cstring>

#include "scenario.h"
#include "setup_state.h"
#include "machine.h"

namespace {

using namespace std::string_literals;

const char Key[] = "%PCI\\VEN_7A3C&DEV_0525.DeviceDesc%=";

struct Found {
    bool found;
    int count;
    std::string path;
};

Found Find(const char *pattern, const char *key = Key) {
    char path[PATH_SIZE];
    std::strcpy(path, pattern);
    int count = -1;
    bool found = FindInfWithKey(key, path, &count);
    return {found, count, path};
}

class FindInf : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_.WriteFile("C:\\DISK\\A.INF", "[Version]\r\n");
        machine_.WriteFile("C:\\DISK\\B.INF", "x\r\n"s + Key + "y\r\n");
        machine_.WriteFile("C:\\DISK\\C.INF", "x\r\n"s + Key + "y\r\n");
        machine_.WriteFile("C:\\DISK\\D.TXT", Key);
        machine_.WriteFile("C:\\NUL\\A.INF", "x\0"s + Key);
        machine_.WriteFile("C:\\NUL\\B.INF",
                           "%pci\\ven_7a3c&dev_0525.devicedesc%=");
        w95::ResetEmulatedProcess();
        w95::LoadMachine(machine_.Directory());
    }
    scenario::Machine machine_;
};

TEST_F(FindInf, TheFirstFileWithTheKeyWins) {
    Found f = Find("C:\\DISK\\*.inf");
    EXPECT_TRUE(f.found);
    EXPECT_EQ(f.count, 2);
    EXPECT_EQ(f.path, "C:\\DISK\\B.INF");
}

TEST_F(FindInf, CountsEveryMatchingFileWhenNoneHoldsTheKey) {
    Found f = Find("C:\\NUL\\*.inf");
    EXPECT_FALSE(f.found);
    EXPECT_EQ(f.count, 2);  // a NUL and other case hide the key
    EXPECT_EQ(f.path, "C:\\NUL\\B.INF");

    f = Find("C:\\EMPTY\\*.inf");
    EXPECT_FALSE(f.found);
    EXPECT_EQ(f.count, 0);
    EXPECT_EQ(f.path, "C:\\EMPTY\\*.inf");
}

TEST_F(FindInf, AFileThatCannotBeReadCountsButHoldsNothing) {
    machine_.MakeDirectory("C:\\DIRS\\A.INF");
    machine_.WriteFile("C:\\DIRS\\B.INF", Key);
    Found f = Find("C:\\DIRS\\*.inf");
    EXPECT_TRUE(f.found);
    EXPECT_EQ(f.count, 2);
    EXPECT_EQ(f.path, "C:\\DIRS\\B.INF");
}

}  // namespace
