// The registry as a whole: registry.reg in and out, RegSaveKeyA and
// RegRestoreKeyA.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "temp_machine.h"
#include "emulator_error.h"
#include "machine.h"
#include "registry_store.h"

namespace fs = std::filesystem;

namespace {

const char kBody[] =
    "[HKEY_LOCAL_MACHINE]\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum]\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI]\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0528]\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0528\\BUS_00]\n"
    "\"Mfg\"=\"Other Maker\"\n"
    "\"Driver\"=\"hdc\\\\0001\"\n"
    "\"ChannelOptions\"=hex:03\n\n"
    "[HKEY_LOCAL_MACHINE\\System]\n"
    "@=dword:00000001\n\n"
    "[HKEY_USERS]\n\n"
    "[HKEY_USERS\\.DEFAULT]\n\n";

class RegistryHiveTest : public TempMachineTest {
  protected:
    void SetUp() override {
        machine.WriteRegistry(kBody);
        original = machine.Registry();
        TempMachineTest::SetUp();
    }
    fs::path RegFile() const { return machine.Directory() / "registry.reg"; }

    std::string original;
};

TEST_F(RegistryHiveTest, WritesBackOnlyAfterAChangeAndStaysByteForByte) {
    // Reads, and writes of what is already there, change nothing.
    HKEY bus;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE,
                            "Enum\\PCI\\VEN_7A3C&DEV_0528\\BUS_00", &bus),
              0);
    ASSERT_EQ(
        RegSetValueExA(bus, "mfg", 0, REG_SZ, (const BYTE *)"Other Maker", 12),
        0);
    ASSERT_EQ(RegDeleteKeyA(bus, "NotThere"), ERROR_FILE_NOT_FOUND);
    fs::remove(RegFile());
    w95::WriteBackRegistry(RegFile());
    EXPECT_FALSE(fs::exists(RegFile()));

    // A change and its undoing: written, and the same bytes as before.
    ASSERT_EQ(RegSetValueExA(bus, "New", 0, REG_SZ, (const BYTE *)"", 1), 0);
    ASSERT_EQ(RegDeleteValueA(bus, "NEW"), 0);
    RegCloseKey(bus);
    w95::WriteBackRegistry(RegFile());
    EXPECT_EQ(machine.Registry(), original);
    EXPECT_FALSE(fs::exists(RegFile().string() + ".w95-new"));
    fs::remove(RegFile());
    w95::WriteBackRegistry(RegFile());  // already written
    EXPECT_FALSE(fs::exists(RegFile()));
}

TEST_F(RegistryHiveTest, HandWrittenFileIsRewrittenInRegeditFormOnChange) {
    const std::string lf =
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n 02\n";
    std::FILE *f = std::fopen(RegFile().c_str(), "wb");
    std::fwrite(lf.data(), 1, lf.size(), f);
    std::fclose(f);
    w95::LoadMachine(machine.Directory());
    w95::WriteBackRegistry(RegFile());
    EXPECT_EQ(machine.Registry(), lf);
    ASSERT_EQ(RegSetValueExA(HKEY_USERS, "w", 0, REG_DWORD,
                             (const BYTE *)"\x10\0\0\0", 4),
              0);
    w95::WriteBackRegistry(RegFile());
    EXPECT_EQ(machine.Registry(),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,02\r\n\r\n"
              "[HKEY_USERS]\r\n\"w\"=dword:00000010\r\n\r\n");
}

TEST_F(RegistryHiveTest, LoadingFailsWithTheLineAndKeepsNothing) {
    fs::path bad = machine.Directory() / "bad.reg";
    {
        std::FILE *f = std::fopen(bad.c_str(), "wb");
        std::fputs(
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=dword:x\r\n", f);
        std::fclose(f);
    }
    try {
        w95::LoadRegistry(bad);
        ADD_FAILURE() << "accepted";
    } catch (const w95::EmulatorFailure &e) {
        EXPECT_EQ(std::string(e.what()).rfind(bad.string() + " line 4: ", 0),
                  0u)
            << e.what();
    }
    HKEY k;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI", &k), 0);
    RegCloseKey(k);

    // No file at all: an empty registry, and no file written for it.
    w95::LoadRegistry(machine.Directory() / "none.reg");
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum", &k), 2);
    w95::WriteBackRegistry(machine.Directory() / "none.reg");
    EXPECT_FALSE(fs::exists(machine.Directory() / "none.reg"));
}

TEST_F(RegistryHiveTest, SaveThenRestoreGivesTheSameTreeBack) {
    std::string before = w95::ExportRegistryText("HKEY_LOCAL_MACHINE");
    ASSERT_EQ(RegSaveKeyA(HKEY_LOCAL_MACHINE, "C:\\REGSAVE", nullptr), 0);
    EXPECT_EQ(machine.ReadFile("C:\\REGSAVE"), before);
    EXPECT_EQ(RegSaveKeyA(HKEY_LOCAL_MACHINE, "c:\\regsave", nullptr),
              ERROR_ALREADY_EXISTS);
    EXPECT_EQ(RegSaveKeyA(HKEY_LOCAL_MACHINE, "C:\\NO\\SUCH\\FILE", nullptr),
              ERROR_PATH_NOT_FOUND);

    HKEY pci, bus;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI", &pci), 0);
    ASSERT_EQ(RegOpenKeyA(pci, "VEN_7A3C&DEV_0528\\BUS_00", &bus), 0);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "System"), 0);
    ASSERT_EQ(RegSetValueExA(pci, "New", 0, REG_BINARY, (const BYTE *)"1", 1),
              0);
    HKEY added;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Added", &added), 0);
    RegCloseKey(added);

    ASSERT_EQ(RegRestoreKeyA(HKEY_LOCAL_MACHINE, "C:\\REGSAVE", 0), 0);
    EXPECT_EQ(w95::ExportRegistryText("HKEY_LOCAL_MACHINE"), before);
    // Keys below the restored one are new keys; old handles are stale.
    char name[64];
    EXPECT_EQ(RegEnumKeyA(pci, 0, name, sizeof name), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyA(bus, 0, name, sizeof name), ERROR_KEY_DELETED);
    RegCloseKey(pci);
    RegCloseKey(bus);
    w95::WriteBackRegistry(RegFile());
    EXPECT_EQ(machine.Registry(), original);
}

TEST_F(RegistryHiveTest, RestoreOntoAnotherKeyAndBadFiles) {
    HKEY pci, target;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI", &pci), 0);
    ASSERT_EQ(RegSaveKeyA(pci, "C:\\PCI.REG", nullptr), 0);
    EXPECT_EQ(machine.ReadFile("C:\\PCI.REG").substr(0, 43),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n");
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Copy", &target), 0);
    ASSERT_EQ(RegSetValueExA(target, "old", 0, REG_SZ, (const BYTE *)"", 1), 0);
    ASSERT_EQ(RegRestoreKeyA(target, "C:\\PCI.REG", 0), 0);
    DWORD size = 64;
    char mfg[64];
    HKEY bus;
    ASSERT_EQ(RegOpenKeyA(target, "VEN_7A3C&DEV_0528\\BUS_00", &bus), 0);
    EXPECT_EQ(
        RegQueryValueExA(bus, "Mfg", nullptr, nullptr, (BYTE *)mfg, &size), 0);
    EXPECT_STREQ(mfg, "Other Maker");
    EXPECT_EQ(
        RegQueryValueExA(target, "old", nullptr, nullptr, nullptr, nullptr),
        ERROR_FILE_NOT_FOUND);
    RegCloseKey(bus);

    std::string keep = w95::ExportRegistryText("");
    EXPECT_EQ(RegRestoreKeyA(target, "C:\\MISSING.REG", 0),
              ERROR_FILE_NOT_FOUND);
    machine.WriteFile("C:\\BAD.REG",
                      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                      "\"x\"=hex:zz\r\n");
    EXPECT_EQ(RegRestoreKeyA(target, "C:\\BAD.REG", 0), ERROR_REGISTRY_CORRUPT);
    machine.WriteFile("C:\\OUTSIDE.REG",
                      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                      "[HKEY_LOCAL_MACHINE\\B\\C]\r\n");
    EXPECT_EQ(RegRestoreKeyA(target, "C:\\OUTSIDE.REG", 0),
              ERROR_REGISTRY_CORRUPT);
    machine.WriteFile("C:\\EMPTY.REG", "REGEDIT4\r\n\r\n");
    EXPECT_EQ(RegRestoreKeyA(target, "C:\\EMPTY.REG", 0),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(w95::ExportRegistryText(""), keep);
    RegCloseKey(target);
    RegCloseKey(pci);
}

}  // namespace
