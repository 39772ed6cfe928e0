// A temporary machine with a drive C:, loaded as this process's machine, for
// tests that call the emulated Win32 functions directly.
#ifndef TESTS_PLATFORM_TEMP_MACHINE_H
#define TESTS_PLATFORM_TEMP_MACHINE_H

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "scenario.h"
#include "emulated_process.h"
#include "fault_injection.h"
#include "machine.h"

class TempMachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        w95::ResetEmulatedProcess();
        machine.MakeDirectory("C:\\");
        w95::LoadMachine(machine.Directory());
    }
    void TearDown() override { w95::ResetEmulatedProcess(); }

    // The host path of a Windows path, as the machine spells it.
    std::string Host(const char *windowsPath) const {
        return machine.HostPath(windowsPath).string();
    }

    scenario::Machine machine;
};

#endif
