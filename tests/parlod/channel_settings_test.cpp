// The registry writes of parlod run as a process: the alternating order of
// the "AdapterSettings" writes with their confirmations, and the
// "ChannelOptions" byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parlod_machine.h"

using namespace parlod_test;

namespace {

std::string Confirmation(const char *channel, int number,
                         const std::string &text) {
    return std::string("Setting ") + channel +
           " channel options on controller #" + std::to_string(number) +
           " to \n  " + text + ".";
}

std::vector<std::string> Confirmations(const scenario::RunResult &run) {
    std::vector<std::string> texts;
    for (const auto &box : run.Events("MessageBox"))
        if (box["caption"] == "Parlod") texts.push_back(box["text"]);
    return texts;
}

TEST(AdapterSettings, ListsTakeTurns) {
    PreloadMachine machine;
    machine.Parameters("#2\n*A0\n*B0\n*A1\n*B1\n");
    auto run = machine.Run("parlod", "/V", Answers("ok,ok,ok,ok,no"));
    EXPECT_EQ(Confirmations(run),
              (std::vector<std::string>{Confirmation("primary", 0, "A0"),
                                        Confirmation("secondary", 0, "B0"),
                                        Confirmation("primary", 1, "A1"),
                                        Confirmation("secondary", 1, "B1")}));
    auto box = run.Events("MessageBox").at(0);
    EXPECT_EQ(box["type"], MB_OKCANCEL | MB_ICONWARNING);
}

TEST(AdapterSettings, LongerListGoesOnAlone) {
    PreloadMachine machine;
    std::string body;
    for (int k = 0; k < 3; ++k) body += Channel(k, true);
    machine.WriteRegistry(body + Channel(0, false));
    machine.Parameters("#3\n*A0\n*B0\n*A1\n*B1\n*A2\n*B2\n");
    auto run = machine.Run("parlod", "/V", Answers("ok,ok,ok,ok,no"));
    EXPECT_EQ(Confirmations(run),
              (std::vector<std::string>{Confirmation("primary", 0, "A0"),
                                        Confirmation("secondary", 0, "B0"),
                                        Confirmation("primary", 1, "A1"),
                                        Confirmation("primary", 2, "A2")}));
}

TEST(AdapterSettings, SecondaryChannelsOnly) {
    PreloadMachine machine;
    machine.WriteRegistry(Channel(1, false) + Channel(0, false));
    machine.Parameters("#2\n*A0\n*B0\n*A1\n*B1\n");
    auto run = machine.Run("parlod", "/V", Answers("ok,ok,no"));
    EXPECT_EQ(Confirmations(run),
              (std::vector<std::string>{Confirmation("secondary", 0, "B0"),
                                        Confirmation("secondary", 1, "B1")}));
    EXPECT_EQ(machine.Settings(1, false), "\"B1\"");
}

TEST(AdapterSettings, PrunedPositionsKeepTheirNumbers) {
    PreloadMachine machine;
    machine.WriteRegistry(Channel(0, true, "old") + Channel(1, true, "old") +
                          Channel(0, false) + Channel(1, false, "old"));
    machine.Parameters("#2 /O1P\n*A0\n*B0\n*A1\n*B1\n");
    auto run = machine.Run("parlod", "/V", Answers("ok,ok,no"));
    EXPECT_EQ(Confirmations(run),
              (std::vector<std::string>{Confirmation("secondary", 0, "B0"),
                                        Confirmation("primary", 1, "A1")}));
    EXPECT_EQ(machine.Settings(0, true), "\"old\"");
    EXPECT_EQ(machine.Settings(1, false), "\"old\"");
}

TEST(AdapterSettings, CancelSkipsOnlyThatChannel) {
    PreloadMachine machine(2, "old");
    machine.Parameters("#2 /O\n*A0\n*B0\n*A1\n*B1\n");
    auto run = machine.Run("parlod", "/V", Answers("ok,cancel,ok,ok,no"));
    EXPECT_EQ(Confirmations(run).size(), 4u);
    EXPECT_EQ(machine.Settings(0, true), "\"A0\"");
    EXPECT_EQ(machine.Settings(0, false), "\"old\"");
    EXPECT_EQ(machine.Settings(1, true), "\"A1\"");
    EXPECT_EQ(machine.Settings(1, false), "\"B1\"");
}

TEST(AdapterSettings, QuietRunShowsNothingAndWritesAll) {
    PreloadMachine machine;
    machine.Parameters("#2\n* spaced  text \n*\n");
    auto run = machine.Run("parlod");
    EXPECT_TRUE(run.Events("MessageBox").empty());
    EXPECT_EQ(machine.Settings(0, true), "\" spaced  text \"");
    EXPECT_EQ(machine.Settings(0, false), "\"\"");  // the NUL alone
    EXPECT_EQ(machine.Settings(1, true), "\"\"");
    EXPECT_EQ(machine.Settings(1, false), "\"\"");
}

TEST(AdapterSettings, LongParameterStringIsShownShortAndWrittenWhole) {
    PreloadMachine machine;
    std::string fits(255 - 56, 'f');  // the longest that fits #0's message
    std::string longer(254, 'L');
    machine.Parameters("#2\n*" + fits + "\n*" + longer + "\n*" + longer + "\n");
    auto run = machine.Run("parlod", "/V", Answers("ok,ok,ok,ok,no"));
    auto texts = Confirmations(run);
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], Confirmation("primary", 0, fits));
    std::string head =
        "Setting secondary channel options on controller #0 to \n  ";
    EXPECT_EQ(texts[1].size(), 255u);
    EXPECT_EQ(texts[1], head + std::string(255 - head.size() - 3, 'L') + "...");
    EXPECT_EQ(texts[2].substr(texts[2].size() - 4), "L...");
    EXPECT_EQ(machine.Settings(0, false), "\"" + longer + "\"");
    EXPECT_EQ(machine.Settings(1, true), "\"" + longer + "\"");
    EXPECT_EQ(machine.Settings(0, true), "\"" + fits + "\"");
}

// "ChannelOptions": which PCI instances get it, and when an existing value
// is replaced.
TEST(ChannelOptions, MatchingDevicesAndManufacturers) {
    PreloadMachine machine;
    const std::string pci = ENUM + "\\PCI\\";
    machine.WriteRegistry(
        Key(pci + "VEN_7A3C&DEV_0525&SUBSYS_1\\A",
            {{"Mfg", "QVR Technology"}}) +
        Key(pci + "VEN_7A3C&DEV_0528\\B", {{"Mfg", "QVR Technology Inc."}}) +
        Key(pci + "VEN_7A3C&DEV_0528\\C", {{"Mfg", "qvr technology"}}) +
        Key(pci + "VEN_7A3C&DEV_0528\\D") +
        Key(pci + "ven_7a3c&dev_0527\\E", {{"Mfg", "QVR Technology"}}) +
        Key(pci + "VEN_7A3C&DEV_0538\\F", {{"Mfg", "QVR Technology"}}) +
        Key(ENUM + "\\MF\\VEN_7A3C&DEV_0528\\G", {{"Mfg", "QVR Technology"}}) +
        Key(pci + "VEN_7A3C&DEV_0528\\H", {{"Mfg", "QVR Technology"}},
            "\"ChannelOptions\"=hex:00,00,00,00\n") +
        Key(pci + "VEN_7A3C&DEV_0528\\I", {{"Mfg", "QVR Technology"}},
            "\"ChannelOptions\"=hex:02\n"));
    machine.Parameters("#1 /SP\n*A\n");
    auto run = machine.Run("parlod", "", Answers("ok"));
    EXPECT_EQ(run.exitCode, 1);  // no channel device: the write stays
    auto options = [&](const std::string &key) {
        return machine.Value(pci + key, "ChannelOptions");
    };
    EXPECT_EQ(options("VEN_7A3C&DEV_0525&SUBSYS_1\\A"), "hex:01");
    EXPECT_EQ(options("VEN_7A3C&DEV_0528\\B"), "hex:01");
    EXPECT_EQ(options("VEN_7A3C&DEV_0528\\C"), "<none>");
    EXPECT_EQ(options("VEN_7A3C&DEV_0528\\D"), "<none>");
    EXPECT_EQ(options("ven_7a3c&dev_0527\\E"), "<none>");
    EXPECT_EQ(options("VEN_7A3C&DEV_0538\\F"), "<none>");
    EXPECT_EQ(
        machine.Value(ENUM + "\\MF\\VEN_7A3C&DEV_0528\\G", "ChannelOptions"),
        "<none>");
    EXPECT_EQ(options("VEN_7A3C&DEV_0528\\H"), "hex:01");
    EXPECT_EQ(options("VEN_7A3C&DEV_0528\\I"), "hex:02");
}

TEST(ChannelOptions, EnumerationEndsAtTheFirstFailedCall) {
    // A device key name beyond the 256-byte buffer fails the enumeration
    // call, and the walk of Enum\PCI ends there.
    PreloadMachine machine;
    const std::string pci = ENUM + "\\PCI\\";
    machine.WriteRegistry(
        Key(pci + "VEN_7A3C&DEV_0528\\A", {{"Mfg", "QVR Technology"}}) +
        Key(pci + std::string(300, 'L') + "\\X") +
        Key(pci + "VEN_7A3C&DEV_0525\\B", {{"Mfg", "QVR Technology"}}));
    machine.Parameters("#1 /SS\n*A\n");
    machine.Run("parlod");
    EXPECT_EQ(machine.Value(pci + "VEN_7A3C&DEV_0528\\A", "ChannelOptions"),
              "hex:02");
    EXPECT_EQ(machine.Value(pci + "VEN_7A3C&DEV_0525\\B", "ChannelOptions"),
              "<none>");
}

TEST(ChannelOptions, FirstModeStaysWithoutOverride) {
    PreloadMachine machine;
    machine.Parameters("#2 /SP\n#/SS\n*A\n");
    machine.Run("parlod");
    EXPECT_EQ(machine.ChannelOptions(0), "hex:01");
    EXPECT_EQ(machine.ChannelOptions(1), "hex:01");
}

TEST(ChannelOptions, OverrideAppliesToLaterSwitchesToo) {
    PreloadMachine machine;
    machine.Parameters("#2 /SpO\n#/Sb /sX /Sn\n*A\n");
    machine.Run("parlod");
    EXPECT_EQ(machine.ChannelOptions(0), "hex:00");
    EXPECT_EQ(machine.ChannelOptions(1), "hex:00");
}

}  // namespace
