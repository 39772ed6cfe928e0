// A temporary machine with a drive C:, loaded as this process's machine, for
// tests that call the emulated Win32 functions directly.
#ifndef TESTS_PLATFORM_TEMP_MACHINE_H
#define TESTS_PLATFORM_TEMP_MACHINE_H

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "scenario.h"
#include "w95/fault_injection.h"
#include "w95/machine.h"

class TempMachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.MakeDirectory("C:\\");
        w95::LoadMachine(machine.Directory());
        w95::ResetFaults();
    }
    void TearDown() override { w95::ResetFaults(); }

    // The host path of a Windows path, as the machine spells it.
    std::string Host(const char *windowsPath) const {
        return machine.HostPath(windowsPath).string();
    }

    scenario::Machine machine;
};

#endif
