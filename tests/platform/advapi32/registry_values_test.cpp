// Registry values through the Win32 calls: exact bytes, short buffers,
// default values, enumeration.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "temp_machine.h"

namespace {

class RegistryValuesTest : public TempMachineTest {
  protected:
    void SetUp() override {
        TempMachineTest::SetUp();
        ASSERT_EQ(
            RegCreateKeyA(HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0000", &key),
            ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key);
        TempMachineTest::TearDown();
    }

    LONG Set(const char *name, DWORD type, std::string bytes) {
        return RegSetValueExA(key, name, 0, type,
                              reinterpret_cast<const BYTE *>(bytes.data()),
                              (DWORD)bytes.size());
    }
    // The value's bytes, or "<error N>".
    std::string Get(const char *name, DWORD *type = nullptr) {
        char buf[512];
        DWORD size = sizeof buf;
        LONG e = RegQueryValueExA(key, name, nullptr, type, (BYTE *)buf, &size);
        if (e) return "<error " + std::to_string(e) + ">";
        return std::string(buf, size);
    }

    HKEY key = nullptr;
};

TEST_F(RegistryValuesTest, ValuesKeepTheirTypeAndExactBytes) {
    ASSERT_EQ(Set("AdapterSettings", REG_SZ, std::string("/P1\0", 4)), 0);
    ASSERT_EQ(Set("NoNul", REG_EXPAND_SZ, "abc"), 0);
    ASSERT_EQ(Set("ChannelOptions", REG_BINARY, std::string("\3", 1)), 0);
    ASSERT_EQ(Set("Odd", 0x1234, std::string("\0\1", 2)), 0);
    ASSERT_EQ(RegSetValueExA(key, "Nothing", 0, REG_BINARY, nullptr, 0), 0);
    DWORD type = 0;
    EXPECT_EQ(Get("adaptersettings", &type), std::string("/P1\0", 4));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(Get("NoNul"), "abc");
    EXPECT_EQ(Get("ChannelOptions", &type), "\3");
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    EXPECT_EQ(Get("Odd", &type), std::string("\0\1", 2));
    EXPECT_EQ(type, 0x1234u);
    EXPECT_EQ(Get("Nothing"), "");
    EXPECT_EQ(Get("Missing"), "<error 2>");
    EXPECT_EQ(Set("two\r\nlines", REG_SZ, std::string("a\0", 2)),
              ERROR_INVALID_PARAMETER);

    // Replacing keeps the first spelling of the name and its place.
    ASSERT_EQ(Set("ADAPTERSETTINGS", REG_DWORD, std::string("\1\0\0\0", 4)), 0);
    char name[64];
    DWORD nameSize = sizeof name;
    ASSERT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, nullptr,
                            nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "AdapterSettings");
    EXPECT_EQ(type, (DWORD)REG_DWORD);
}

TEST_F(RegistryValuesTest, TextIsStoredUpToItsFirstNulWhateverTheSize) {
    const char text[16] = "abc\0garbage";
    const BYTE *bytes = reinterpret_cast<const BYTE *>(text);
    std::string stored("abc\0", 4);
    ASSERT_EQ(RegSetValueExA(key, "Long", 0, REG_SZ, bytes, 16), 0);
    ASSERT_EQ(RegSetValueExA(key, "Short", 0, REG_SZ, bytes, 3), 0);
    ASSERT_EQ(RegSetValueExA(key, "None", 0, REG_SZ, bytes, 0), 0);
    EXPECT_EQ(Get("Long"), stored);
    EXPECT_EQ(Get("Short"), stored);
    EXPECT_EQ(Get("None"), stored);
    EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_SZ, nullptr, 0),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_SZ, nullptr, 3),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Get("Null"), "<error 2>");
    // Other types keep exactly the bytes they are given.
    ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, bytes, 6), 0);
    EXPECT_EQ(Get("Bin"), std::string("abc\0ga", 6));
}

TEST_F(RegistryValuesTest, DefaultValueHasTheEmptyName) {
    EXPECT_EQ(Get(nullptr), "<error 2>");
    ASSERT_EQ(Set(nullptr, REG_SZ, std::string("dflt\0", 5)), 0);
    EXPECT_EQ(Get(""), std::string("dflt\0", 5));
    EXPECT_EQ(RegDeleteValueA(key, ""), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Get(nullptr), "<error 2>");
}

TEST_F(RegistryValuesTest, ShortBuffersGetTheSizeAndStayUntouched) {
    std::string text(300, 'S');
    text.push_back('\0');
    ASSERT_EQ(Set("AdapterSettings", REG_SZ, text), 0);
    char buf[257];
    std::memset(buf, 'x', sizeof buf);
    DWORD size = 256;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "AdapterSettings", nullptr, &type,
                               (BYTE *)buf, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 301u);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(257, 'x'));
    // A missing value gives no type.
    size = 256;
    EXPECT_EQ(
        RegQueryValueExA(key, "Missing", nullptr, &type, (BYTE *)buf, &size),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, (DWORD)REG_NONE);
    EXPECT_EQ(size, 256u);
    EXPECT_EQ(
        RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u);

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "AdapterSettings", nullptr, nullptr,
                               nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 301u);
    EXPECT_EQ(RegQueryValueExA(key, "AdapterSettings", nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "AdapterSettings", nullptr, nullptr,
                               (BYTE *)buf, nullptr),
              ERROR_INVALID_PARAMETER);

    // A one-byte value fits a one-byte buffer exactly; two bytes do not.
    ASSERT_EQ(Set("ChannelOptions", REG_BINARY, "\2"), 0);
    BYTE one = 0;
    size = 1;
    EXPECT_EQ(
        RegQueryValueExA(key, "ChannelOptions", nullptr, nullptr, &one, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(one, 2);
    ASSERT_EQ(Set("ChannelOptions", REG_DWORD, std::string("\2\0\0\0", 4)), 0);
    one = 9;
    size = 1;
    EXPECT_EQ(
        RegQueryValueExA(key, "ChannelOptions", nullptr, nullptr, &one, &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(one, 9);
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistryValuesTest, EnumValuesInOrderWithShortBuffers) {
    ASSERT_EQ(Set("Class", REG_SZ, std::string("hdc\0", 4)), 0);
    ASSERT_EQ(Set("DeviceDesc", REG_SZ, std::string("Primary\0", 8)), 0);
    ASSERT_EQ(Set("Mfg", REG_SZ, std::string("QVR\0", 4)), 0);
    ASSERT_EQ(RegDeleteValueA(key, "class"), ERROR_SUCCESS);
    ASSERT_EQ(Set("Driver", REG_SZ, std::string("hdc\\0001\0", 9)), 0);

    char name[16];
    BYTE data[16];
    DWORD nameSize, dataSize, type;
    std::string seen;
    for (DWORD i = 0;; ++i) {
        nameSize = sizeof name;
        dataSize = sizeof data;
        LONG e = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data,
                               &dataSize);
        if (e == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        EXPECT_EQ(nameSize, std::strlen(name));
        seen += std::string(name) + "=" + (char *)data + ";";
    }
    EXPECT_EQ(seen, "DeviceDesc=Primary;Mfg=QVR;Driver=hdc\\0001;");

    // A name that does not fit is cut to the buffer; the data, its size
    // and type are given all the same.
    std::memset(name, 'x', sizeof name);
    std::memset(data, 'x', sizeof data);
    nameSize = 10;  // "DeviceDesc" needs 11
    dataSize = sizeof data;
    type = 99;
    EXPECT_EQ(
        RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize),
        ERROR_MORE_DATA);
    EXPECT_STREQ(name, "DeviceDes");
    EXPECT_EQ(nameSize, 9u);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(dataSize, 8u);
    EXPECT_STREQ((char *)data, "Primary");
    // Data that does not fit leaves the name and its count as they were.
    std::memset(name, 'x', sizeof name);
    std::memset(data, 'x', sizeof data);
    nameSize = 11;
    dataSize = 3;
    type = 99;
    EXPECT_EQ(
        RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize),
        ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 8u);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(data[0], 'x');
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(nameSize, 11u);

    DWORD values = 0, longestName = 0, longestData = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, &values, &longestName, &longestData,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(longestName, 10u);
    EXPECT_EQ(longestData, 9u);
}

}  // namespace
