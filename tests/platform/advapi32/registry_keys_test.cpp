// Registry keys through the Win32 calls: opening, creating, enumerating,
// deleting, handles and the predefined aliases.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "temp_machine.h"
#include "fault_injection.h"
#include "registry_store.h"

namespace {

class RegistryKeysTest : public TempMachineTest {
  protected:
    void SetUp() override {
        machine.WriteRegistry(
            "[HKEY_LOCAL_MACHINE\\Enum]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\Root]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\PCI]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0528]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0528\\BUS_00]\n"
            "\"Mfg\"=\"QVR Technology\"\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\MF]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\ESDI]\n\n");
        TempMachineTest::SetUp();
    }

    std::vector<std::string> Subkeys(HKEY key) {
        std::vector<std::string> names;
        char name[256];
        for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == 0; ++i)
            names.push_back(name);
        return names;
    }

    HKEY Open(HKEY base, const char *path) {
        HKEY k = nullptr;
        EXPECT_EQ(RegOpenKeyA(base, path, &k), ERROR_SUCCESS) << path;
        return k;
    }
};

using Names = std::vector<std::string>;

TEST_F(RegistryKeysTest, EnumeratesInFileOrderThenCreationOrderAndRenumbers) {
    HKEY e = Open(HKEY_LOCAL_MACHINE, "Enum");
    EXPECT_EQ(Subkeys(e), (Names{"Root", "PCI", "MF", "ESDI"}));
    HKEY added;
    ASSERT_EQ(RegCreateKeyA(e, "BIOS", &added), ERROR_SUCCESS);
    RegCloseKey(added);
    EXPECT_EQ(Subkeys(e), (Names{"Root", "PCI", "MF", "ESDI", "BIOS"}));

    // The walk of the setup program: delete at index i, read i again.
    ASSERT_EQ(RegDeleteKeyA(e, "pci"), ERROR_SUCCESS);
    char name[256];
    ASSERT_EQ(RegEnumKeyA(e, 1, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "MF");
    EXPECT_EQ(Subkeys(e), (Names{"Root", "MF", "ESDI", "BIOS"}));
    EXPECT_EQ(RegEnumKeyA(e, 4, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyA(e, 0xFFFFFFFF, name, sizeof name),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(e);
}

TEST_F(RegistryKeysTest, EnumerationHonoursTheBufferSizeExactly) {
    HKEY e = Open(HKEY_LOCAL_MACHINE, "Enum");
    char name[8];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(RegEnumKeyA(e, 0, name, 4), ERROR_MORE_DATA);  // "Root" + NUL
    EXPECT_EQ(std::string(name, 8), "xxxxxxxx");
    EXPECT_EQ(RegEnumKeyA(e, 0, name, 5), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, 6), std::string("Root\0x", 6));
    EXPECT_EQ(RegEnumKeyA(e, 0, name, 0), ERROR_MORE_DATA);

    DWORD size = 4;
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(
        RegEnumKeyExA(e, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
        ERROR_MORE_DATA);
    EXPECT_EQ(std::string(name, 8), "xxxxxxxx");
    size = 5;
    char cls[4] = "abc";
    DWORD clsSize = sizeof cls;
    FILETIME ft{1, 1};
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, &size, nullptr, cls, &clsSize, &ft),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Root");
    EXPECT_EQ(size, 4u);
    EXPECT_STREQ(cls, "");
    EXPECT_EQ(clsSize, 0u);
    size = sizeof name;
    EXPECT_EQ(
        RegEnumKeyExA(e, 9, name, &size, nullptr, nullptr, nullptr, nullptr),
        ERROR_NO_MORE_ITEMS);

    // A long name never overruns a 256-byte buffer.
    std::string longName(300, 'L');
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(e, longName.c_str(), &k), ERROR_SUCCESS);
    RegCloseKey(k);
    std::vector<char> buf(257, 'x');
    EXPECT_EQ(RegEnumKeyA(e, 4, buf.data(), 256), ERROR_MORE_DATA);
    EXPECT_EQ(buf[256], 'x');
    RegCloseKey(e);
}

TEST_F(RegistryKeysTest, NamesIgnoreCaseAndKeepTheirCase) {
    HKEY k = Open(HKEY_LOCAL_MACHINE, "enum\\pci\\ven_7a3c&dev_0528");
    char name[256];
    ASSERT_EQ(RegEnumKeyA(k, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "BUS_00");
    HKEY again;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "ENUM\\Pci\\\\", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(Subkeys(again), (Names{"VEN_7A3C&DEV_0528"}));
    RegCloseKey(again);
    HKEY fresh;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Enum\\New\\Deep", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &fresh, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    RegCloseKey(fresh);
    RegCloseKey(k);
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Nope", 0, KEY_ALL_ACCESS,
                            &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
}

TEST_F(RegistryKeysTest, DeleteTakesTheSubtreeAndItsHandlesGoStale) {
    HKEY bus = Open(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0528\\BUS_00");
    HKEY pci = Open(HKEY_LOCAL_MACHINE, "Enum\\PCI");
    ASSERT_EQ(RegDeleteKeyA(pci, "VEN_7A3C&DEV_0528"), ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(pci), Names{});
    char data[256];
    DWORD size = sizeof data;
    EXPECT_EQ(
        RegQueryValueExA(bus, "Mfg", nullptr, nullptr, (BYTE *)data, &size),
        ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExA(bus, "x", 0, REG_SZ, (const BYTE *)"", 1),
              ERROR_KEY_DELETED);
    HKEY sub;
    EXPECT_EQ(RegCreateKeyA(bus, "sub", &sub), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyA(bus, 0, data, sizeof data), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(bus), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(bus), ERROR_SUCCESS);  // again: no harm done
    EXPECT_EQ(RegEnumKeyA(bus, 0, data, sizeof data), ERROR_BADKEY);
    EXPECT_EQ(RegDeleteKeyA(pci, "VEN_7A3C&DEV_0528"), ERROR_FILE_NOT_FOUND);

    // "" deletes the handle's own key; NULL is refused as Windows 95 does.
    EXPECT_EQ(RegDeleteKeyA(pci, nullptr), ERROR_BADKEY);
    ASSERT_EQ(RegDeleteKeyA(pci, ""), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI", &sub),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(pci);

    // Never a root, nor an alias of one.
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE), Names{"Enum"});
}

TEST_F(RegistryKeysTest, HandlesAndBadArguments) {
    HKEY invalid = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x42));
    char name[16];
    EXPECT_EQ(RegEnumKeyA(invalid, 0, name, sizeof name), ERROR_BADKEY);
    EXPECT_EQ(RegEnumKeyA(nullptr, 0, name, sizeof name), ERROR_BADKEY);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_BADKEY);
    EXPECT_EQ(RegCloseKey(invalid), ERROR_BADKEY);
    EXPECT_EQ(RegEnumKeyA(HKEY_DYN_DATA, 0, name, sizeof name), ERROR_BADKEY);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    HKEY root = Open(HKEY_LOCAL_MACHINE, nullptr);
    EXPECT_NE(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(Subkeys(root), Names{"Enum"});
    EXPECT_EQ(RegDeleteKeyA(root, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);

    // A new handle to the same key: closing it leaves the first one open.
    HKEY e = Open(HKEY_LOCAL_MACHINE, "Enum");
    HKEY same = Open(e, nullptr);
    HKEY same2 = Open(e, "");
    EXPECT_NE(same, e);
    EXPECT_NE(same2, same);
    EXPECT_EQ(RegCloseKey(same), ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(same2), Subkeys(e));
    EXPECT_EQ(RegCloseKey(same2), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyA(e, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyA(e, "Root", nullptr), ERROR_INVALID_PARAMETER);

    HKEY k;
    EXPECT_EQ(RegCreateKeyA(e, "two\nlines", &k), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Subkeys(e).size(), 4u);

    DWORD subkeys = 0, longest = 0, values = 9, longestName = 9,
          longestData = 9;
    ASSERT_EQ(RegQueryInfoKeyA(e, nullptr, nullptr, nullptr, &subkeys, &longest,
                               nullptr, &values, &longestName, &longestData,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 4u);
    EXPECT_EQ(longest, 4u);  // "Root", "ESDI"
    EXPECT_EQ(values, 0u);
    EXPECT_EQ(longestName, 0u);
    EXPECT_EQ(longestData, 0u);
    RegCloseKey(e);
}

TEST_F(RegistryKeysTest, ALeadingBackslashNamesNoKeyToOpenOrDelete) {
    HKEY k = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x42));
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "\\Enum", &k),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(k, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Enum\\Root", 0,
                            KEY_ALL_ACCESS, &k),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "\\", &k), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "\\Enum\\Root"),
              ERROR_FILE_NOT_FOUND);
    // Creating skips the one backslash: the key is made where the name
    // without it says.
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "\\Enum\\New", &k),
              ERROR_SUCCESS);
    RegCloseKey(k);
    HKEY e = Open(HKEY_LOCAL_MACHINE, "Enum");
    EXPECT_EQ(Subkeys(e).back(), "New");
    EXPECT_EQ(Subkeys(e).size(), 5u);
    RegCloseKey(e);
}

TEST_F(RegistryKeysTest, AliasesShowTheirRealKeys) {
    HKEY k;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "", &k), ERROR_SUCCESS);
    EXPECT_EQ(k, HKEY_CURRENT_USER);
    // An alias whose key is not there yet reads as an empty key.
    char name[64];
    EXPECT_EQ(RegEnumKeyA(HKEY_CLASSES_ROOT, 0, name, sizeof name),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, ".inf", &k), ERROR_FILE_NOT_FOUND);
    EXPECT_THROW(w95::ExportRegistryText("HKEY_LOCAL_MACHINE\\SOFTWARE"),
                 std::exception);

    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, ".inf", &k), ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Veltrane", &k),
              ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_EQ(RegSetValueExA(HKEY_CURRENT_CONFIG, "Mode", 0, REG_DWORD,
                             (const BYTE *)"\1\0\0\0", 4),
              ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT), Names{".inf"});
    k = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.INF");
    RegCloseKey(k);
    k = Open(HKEY_USERS, ".DEFAULT\\Software\\Veltrane");
    RegCloseKey(k);
    k = Open(HKEY_LOCAL_MACHINE, "Config\\0001");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(k, "mode", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    RegCloseKey(k);
}

TEST_F(RegistryKeysTest, InjectedFaultsFailBeforeDoingAnything) {
    w95::SetFaultPlan("RegOpenKeyExA@2=5,RegDeleteKeyA=1009");
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum", 0, KEY_ALL_ACCESS, &k),
              ERROR_SUCCESS);
    RegCloseKey(k);
    HKEY untouched = reinterpret_cast<HKEY>(7);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum", 0, KEY_ALL_ACCESS,
                            &untouched),
              5);
    EXPECT_EQ(untouched, reinterpret_cast<HKEY>(7));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum"), 1009);
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE), Names{"Enum"});
}

}  // namespace
