// A fixture for tests that call parlod's operations directly on an emulated
// machine, with the process-wide state reset around each test.
#ifndef TESTS_PARLOD_PARLOD_STATE_TEST_H
#define TESTS_PARLOD_PARLOD_STATE_TEST_H

#include <gtest/gtest.h>

#include <string>

#include "parameter_file.h"
#include "parlod_machine.h"
#include "machine.h"

namespace parlod_test {

class ParlodStateTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetParlodState(); }
    void TearDown() override { ResetParlodState(); }

    // Loads the machine with `registry` and the parameter file `text`.
    void Load(const std::string &text, const std::string &registry) {
        machine.WriteRegistry(registry);
        machine.WriteFile("C:\\veltrane\\parlod.ini", text);
        w95::LoadMachine(machine.Directory());
    }

    void ReadWith(const std::string &text, const std::string &registry) {
        Load(text, registry);
        ReadParameterFile("");
    }

    void Read(const std::string &text, int controllers = 2,
              const std::string &settings = "") {
        Load(text, Controllers(controllers, settings));
        ReadParameterFile("");
    }

    // The parameter text of a position, or "null" for an empty one.
    static std::string Text(ControllerEntry **list, LONG count, int k) {
        if (k >= count) return "missing";
        return list[k] == NULL ? "null" : list[k]->ParameterText;
    }
    static std::string P(int k) { return Text(PrimaryList, PrimaryCount, k); }
    static std::string S(int k) {
        return Text(SecondaryList, SecondaryCount, k);
    }

    std::string ChannelOptionsAt(int number) {
        HKEY key;
        std::string path = PciPath(number).substr(19);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS,
                          &key) != 0)
            return "no key";
        BYTE data[8];
        DWORD type = 0, size = sizeof data;
        LONG result =
            RegQueryValueExA(key, "ChannelOptions", NULL, &type, data, &size);
        RegCloseKey(key);
        if (result != 0) return "none";
        std::string out = std::to_string(type) + ":";
        for (DWORD i = 0; i < size; ++i) out += std::to_string(data[i]) + " ";
        return out;
    }

    scenario::Machine machine;
};

}  // namespace parlod_test

#endif
