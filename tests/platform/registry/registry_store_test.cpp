// Registry objects on their own: two side by side, and the changes that
// their operations count (which decide whether registry.reg is written).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario.h"
#include "emulator_error.h"
#include "registry_store.h"

namespace fs = std::filesystem;

namespace {

const BYTE kOne[] = {1};
const BYTE kTwo[] = {2};

class RegistryObject : public ::testing::Test {
  protected:
    fs::path Write(const std::string &name, const std::string &text) {
        fs::path file = holder.Directory() / name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    static std::string Read(const fs::path &file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    scenario::Machine holder;
};

TEST_F(RegistryObject, TwoRegistriesSideBySideKeepTheirOwnTrees) {
    fs::path fileA = Write("a.reg",
                           "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n"
                           "\"Who\"=\"a\"\r\n\r\n");
    fs::path fileB = Write("b.reg",
                           "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\ENUM]\r\n"
                           "\"who\"=\"b\"\r\n\r\n");
    w95::Registry a, b;
    a.Load(fileA);
    b.Load(fileB);
    w95::RegKey &enumA = *a.LocalMachine().FindChild("enum");
    const w95::RegKey &enumB = *b.LocalMachine().FindChild("enum");
    EXPECT_EQ(enumA.name, "Enum");
    EXPECT_EQ(enumB.name, "ENUM");

    EXPECT_TRUE(a.SetValue(enumA, "WHO", REG_SZ,
                           reinterpret_cast<const BYTE *>("c"), 2));
    EXPECT_EQ(b.ExportText("HKEY_LOCAL_MACHINE\\Enum"),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\ENUM]\r\n"
              "\"who\"=\"b\"\r\n\r\n");
    EXPECT_FALSE(b.HasUnsavedChanges());

    // Each writes back to its own file; the other file is left alone.
    a.WriteBack(fileA);
    b.WriteBack(fileB);
    EXPECT_EQ(Read(fileA),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum]\r\n\"Who\"=\"c\"\r\n\r\n"
              "[HKEY_USERS]\r\n\r\n");
    EXPECT_EQ(Read(fileB),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\ENUM]\r\n"
              "\"who\"=\"b\"\r\n\r\n");

    // A handle belongs to the registry that opened it.
    HKEY handle = a.OpenHandle(enumA);
    LONG error = 0;
    EXPECT_EQ(a.KeyOfHandle(handle, &error).get(), &enumA);
    a.DeleteKey(enumA);
    EXPECT_EQ(a.KeyOfHandle(handle, &error), nullptr);
    EXPECT_EQ(error, ERROR_KEY_DELETED);
    EXPECT_TRUE(a.CloseHandle(handle));
    EXPECT_FALSE(a.CloseHandle(handle));
}

TEST_F(RegistryObject, OperationsCountOnlyRealChanges) {
    w95::Registry r;
    fs::path file = holder.Directory() / "count.reg";
    w95::RegKey &lm = *r.RootKey(w95::RegRoot::LocalMachine, false);
    bool created = false;
    w95::RegKey &key = r.CreateKey(lm, {"Enum", "PCI"}, &created);
    EXPECT_TRUE(created);
    EXPECT_EQ(r.ChangeCount(), 2u);  // two keys made
    r.CreateKey(lm, {"enum", "pci"}, &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(r.ChangeCount(), 2u);

    // A value set, then set again to the same: one change.
    EXPECT_TRUE(r.SetValue(key, "Mode", REG_BINARY, kOne, 1));
    EXPECT_FALSE(r.SetValue(key, "MODE", REG_BINARY, kOne, 1));
    EXPECT_EQ(r.ChangeCount(), 3u);
    EXPECT_TRUE(r.SetValue(key, "mode", REG_BINARY, kTwo, 1));
    EXPECT_TRUE(r.SetValue(key, "mode", REG_DWORD, kTwo, 1));  // type only
    EXPECT_FALSE(r.DeleteValue(key, "Missing"));
    EXPECT_EQ(r.ChangeCount(), 5u);

    // Looking at an alias makes nothing; creating it does.
    EXPECT_EQ(r.RootKey(w95::RegRoot::ClassesRoot, false), nullptr);
    EXPECT_EQ(r.ChangeCount(), 5u);
    EXPECT_NE(r.RootKey(w95::RegRoot::ClassesRoot, true), nullptr);
    EXPECT_EQ(r.ChangeCount(), 7u);  // SOFTWARE and Classes

    r.WriteBack(file);
    EXPECT_FALSE(r.HasUnsavedChanges());
    std::string written = Read(file);

    // An import of what is already there is no change: nothing written.
    r.ImportText(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\ENUM\\PCI]\r\n"
        "\"MODE\"=hex(4):02\r\n\"gone\"=-\r\n\r\n",
        "same.reg");
    EXPECT_FALSE(r.HasUnsavedChanges());
    fs::remove(file);
    r.WriteBack(file);
    EXPECT_FALSE(fs::exists(file));

    // A change and its undoing are two changes: written, and the same.
    EXPECT_TRUE(r.SetValue(key, "New", REG_SZ, kOne, 1));
    EXPECT_TRUE(r.DeleteValue(key, "new"));
    EXPECT_TRUE(r.HasUnsavedChanges());
    r.WriteBack(file);
    EXPECT_EQ(Read(file), written);

    // Loading starts the count anew and drops the handles.
    HKEY handle = r.OpenHandle(key);
    r.Load(file);
    EXPECT_EQ(r.ChangeCount(), 0u);
    EXPECT_FALSE(r.HasUnsavedChanges());
    LONG error = 0;
    EXPECT_EQ(r.KeyOfHandle(handle, &error), nullptr);
    EXPECT_EQ(error, ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.ExportText(""), written);
}

TEST_F(RegistryObject, AFailedLoadKeepsTheRegistryAsItWas) {
    w95::Registry r;
    w95::RegKey &lm = *r.RootKey(w95::RegRoot::LocalMachine, false);
    bool created = false;
    w95::RegKey &key = r.CreateKey(lm, {"Keep"}, &created);
    HKEY handle = r.OpenHandle(key);
    fs::path bad = Write("bad.reg", "REGEDIT4\r\n[HKEY_NOWHERE]\r\n");
    EXPECT_THROW(r.Load(bad), w95::EmulatorFailure);
    LONG error = 0;
    EXPECT_EQ(r.KeyOfHandle(handle, &error).get(), &key);
    EXPECT_EQ(r.ChangeCount(), 1u);
}

}  // namespace
