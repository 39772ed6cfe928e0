// The Windows-1252 code page: conversions to and from UTF-8, and one case
// folding for file names, registry names and lstrcmpiA.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "temp_machine.h"
#include "code_page.h"

namespace {

// The letters of the code page as (upper, lower) pairs.
std::vector<std::pair<char, char>> LetterPairs() {
    std::vector<std::pair<char, char>> pairs;
    for (int c = 'A'; c <= 'Z'; ++c) pairs.emplace_back(char(c), char(c + 32));
    for (int c = 0xC0; c <= 0xDE; ++c)
        if (c != 0xD7) pairs.emplace_back(char(c), char(c + 32));
    pairs.emplace_back('\x8A', '\x9A');  // S caron
    pairs.emplace_back('\x8C', '\x9C');  // OE
    pairs.emplace_back('\x8E', '\x9E');  // Z caron
    pairs.emplace_back('\x9F', '\xFF');  // Y diaeresis
    return pairs;
}

TEST(CodePage, EveryByteGoesToUtf8AndBack) {
    for (int c = 1; c < 256; ++c) {
        std::string ansi(1, static_cast<char>(c));
        std::string utf8 = w95::AnsiToUtf8(ansi);
        EXPECT_EQ(w95::Utf8ToAnsi(utf8), ansi) << "byte " << c;
    }
    EXPECT_EQ(w95::AnsiToUtf8("\x9F\x8A"), "\xC5\xB8\xC5\xA0");
    EXPECT_EQ(w95::Utf8ToAnsi(std::string("a\0b", 3)), std::nullopt);
    EXPECT_EQ(w95::Utf8ToAnsi("\xC2\x80"), std::nullopt);  // U+0080: no byte
    EXPECT_EQ(w95::Utf8ToAnsi("\xE4\xB8\xAD"), std::nullopt);  // not in 1252
    EXPECT_EQ(w95::Utf8ToAnsi("\xF0\x9F\x98\x80"), std::nullopt);
    EXPECT_EQ(w95::Utf8ToAnsi("\xC3"), std::nullopt);  // cut short
}

TEST(CodePage, LettersFoldInPairsAndNothingElseFolds) {
    std::string lower(256, 0), upper(256, 0);
    for (int c = 0; c < 256; ++c) lower[c] = upper[c] = static_cast<char>(c);
    for (auto [u, l] : LetterPairs()) {
        lower[static_cast<unsigned char>(u)] = l;
        upper[static_cast<unsigned char>(l)] = u;
    }
    for (int c = 0; c < 256; ++c) {
        char ch = static_cast<char>(c);
        EXPECT_EQ(w95::FoldCase(ch), lower[c]) << "byte " << c;
        EXPECT_EQ(w95::UpperCase(ch), upper[c]) << "byte " << c;
    }
    // Names order as their lower-case forms: "_" (0x5F) before letters.
    EXPECT_LT(w95::CompareNames("A_", "AB"), 0);
    EXPECT_LT(w95::CompareNames("ab", "ABC"), 0);
    EXPECT_EQ(w95::CompareNames("\xC9T\xC9", "\xE9t\xE9"), 0);
    EXPECT_FALSE(w95::SameName("\xDF", "SS"));  // sharp s has no upper case
    EXPECT_EQ(w95::FoldedHash()("\x8A\xC0Z"), w95::FoldedHash()("\x9A\xE0z"));
}

class CodePageNames : public TempMachineTest {};

// The registry, the file names and lstrcmpiA take every letter of the code
// page as the same letter in either case.
TEST_F(CodePageNames, RegistryAndFilesFoldEveryLetterAlike) {
    for (auto [u, l] : LetterPairs()) {
        std::string upperName = std::string("N") + u;
        std::string lowerName = std::string("n") + l;
        SCOPED_TRACE("letter " + std::to_string(static_cast<unsigned char>(u)));

        HKEY made, opened;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, upperName.c_str(), &made),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(made, upperName.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(""), 1),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, lowerName.c_str(), &opened),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegQueryValueExA(opened, lowerName.c_str(), nullptr, nullptr,
                                   nullptr, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(opened);
        RegCloseKey(made);

        std::string upperFile = "C:\\" + upperName;
        std::string lowerFile = "C:\\" + lowerName;
        HANDLE h = CreateFileA(upperFile.c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        EXPECT_NE(GetFileAttributesA(lowerFile.c_str()),
                  INVALID_FILE_ATTRIBUTES);

        EXPECT_EQ(lstrcmpiA(upperName.c_str(), lowerName.c_str()), 0);
    }
}

}  // namespace
