// The registry tree's storage: subkey lookups through the index as keys
// come and go, keys moved between trees made in different arenas, and the
// size bound by which a key's text is written into one buffer.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "regedit4.h"
#include "registry_tree.h"

namespace {

using w95::RegKey;

std::string Name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Device%05d", i);
    return name;
}

TEST(RegistryTree, LookupsFollowKeysAddedAndRemovedInAnyCase) {
    auto root = RegKey::NewRoot("HKEY_LOCAL_MACHINE");
    for (int i = 0; i < 1000; ++i) root->AddChild(Name(i));
    // Every other key goes, from the middle out, while lookups go on.
    for (int i = 1; i < 1000; i += 2) {
        RegKey *k = root->FindChild(Name(i));
        ASSERT_NE(k, nullptr) << i;
        root->RemoveChild(k);
        EXPECT_EQ(root->FindChild(Name(i)), nullptr) << i;
    }
    ASSERT_EQ(root->Children().size(), 500u);
    for (int i = 0; i < 1000; i += 2) {
        std::string upper = Name(i);
        for (char &c : upper) c = w95::UpperCase(c);
        RegKey *k = root->FindChild(upper);
        ASSERT_NE(k, nullptr) << upper;
        EXPECT_EQ(k->name, Name(i));  // the case it was made with
    }
    // Enumeration order is creation order; a key made again goes last.
    EXPECT_EQ(root->Children()[1]->name, Name(2));
    bool created = false;
    root->Child("DEVICE00001", &created);
    EXPECT_TRUE(created);
    EXPECT_EQ(root->Children().back()->name, "DEVICE00001");
    // A few keys: looked up without the index, the same answers.
    while (root->Children().size() > 3)
        root->RemoveChild(root->Children().front().get());
    EXPECT_NE(root->FindChild("device00996"), nullptr);
    EXPECT_EQ(root->FindChild("Device00000"), nullptr);
}

TEST(RegistryTree, KeysMovedBetweenTreesOutliveTheTreeTheyCameFrom) {
    auto tree = RegKey::NewRoot("HKEY_LOCAL_MACHINE");
    RegKey &target = tree->AddChild("Target");
    const BYTE old[] = {9};
    target.SetValue("Old", REG_BINARY, old, 1);
    for (bool ownArena : {true, false}) {
        // With subkeys (which hold their storage) and with values alone.
        for (int subkeys : {20, 0}) {
            std::shared_ptr<RegKey> saved =
                ownArena ? RegKey::NewRoot("") : std::make_shared<RegKey>("");
            for (int i = 0; i < subkeys; ++i) {
                RegKey &k = saved->AddChild(Name(i));
                std::string text = "value " + std::to_string(i);
                k.SetValue("Text", REG_SZ,
                           reinterpret_cast<const BYTE *>(text.c_str()),
                           text.size() + 1);
            }
            const BYTE flag[] = {1, 2, 3};
            saved->SetValue("Flag", REG_BINARY, flag, 3);
            target.TakeContentOf(*saved);
            saved.reset();  // its own storage goes; what moved must not
            ASSERT_EQ(target.Children().size(), std::size_t(subkeys));
            EXPECT_EQ(target.FindValue("Old"), nullptr);
            ASSERT_NE(target.FindValue("flag"), nullptr);
            EXPECT_EQ(target.FindValue("flag")->data[2], 3);
            target.SetValue("Later", REG_BINARY, flag, 2);
            EXPECT_EQ(target.Values().size(), 2u);
            target.AddChild("Sibling");
            EXPECT_NE(target.FindChild("sibling"), nullptr);
            if (subkeys == 0) continue;
            RegKey *k = target.FindChild("DEVICE00019");
            ASSERT_NE(k, nullptr);
            EXPECT_EQ(k->parent, &target);
            EXPECT_EQ(k->Path(), "HKEY_LOCAL_MACHINE\\Target\\Device00019");
            // Keys and values made after the move are kept like any other.
            RegKey &more = k->AddChild("More");
            more.SetValue("", REG_SZ, reinterpret_cast<const BYTE *>("x"), 2);
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(
                          k->FindValue("Text")->data.data())),
                      "value 19");
        }
    }
}

TEST(RegistryTree, TheTextBoundHoldsForEveryKindOfValue) {
    auto root = RegKey::NewRoot("HKEY_LOCAL_MACHINE");
    RegKey &k = root->AddChild("Quotes \"and\" \\backslashes\\");
    std::string escaped(200, '"');
    k.SetValue(escaped, REG_SZ, reinterpret_cast<const BYTE *>(escaped.c_str()),
               escaped.size() + 1);
    std::string longName(300, 'n');
    BYTE bytes[1000];
    for (int i = 0; i < 1000; ++i) bytes[i] = static_cast<BYTE>(i);
    for (std::size_t n : {0u, 1u, 2u, 25u, 26u, 1000u}) {
        k.SetValue(longName + std::to_string(n), REG_BINARY, bytes, n);
        k.SetValue("t" + std::to_string(n), 0x12345678, bytes, n);
    }
    const BYTE dword[4] = {1, 2, 3, 4};
    k.SetValue("", REG_DWORD, dword, 4);
    k.SetValue("odd dword", REG_DWORD, dword, 3);
    k.SetValue("control", REG_SZ, reinterpret_cast<const BYTE *>("a\tb"), 4);
    k.AddChild("Empty").AddChild("Deeper");
    std::string path = "HKEY_LOCAL_MACHINE\\Somewhere";
    std::string out;
    w95::regedit4::AppendTree(out, path, *root);
    EXPECT_LE(out.size(), w95::regedit4::TreeTextBound(path.size(), *root));
}

}  // namespace
