// A machine for setup's scenarios: the distribution disk in A:\, a Windows
// tree on C:\ and a registry with old and current registrations of the
// controller. Plus helpers to read the registry and the file tree back.
#ifndef TESTS_SETUP_SETUP_MACHINE_H
#define TESTS_SETUP_SETUP_MACHINE_H

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>
#include <utime.h>

#include "scenario.h"

namespace setup_test {

using namespace std::string_literals;

inline const std::string Key25 = "%PCI\\VEN_7A3C&DEV_0525.DeviceDesc%=";
inline const std::string Key28 = "%PCI\\VEN_7A3C&DEV_0528.DeviceDesc%=";
inline const std::string Banner =
    "QVR PCI0528/PCI0525 Driver V2.10 \n  for Windows 95 (960923)";
inline const std::string PortDriver =
    "MZ\x90\0\3\0code bytes $qvr $qvrver$\0"s + Banner + "\0tail\0\0"s;
inline const std::string DriverInf =
    "[Version]\r\nSignature=$CHICAGO$\r\n[Manufacturer]\r\n%QVR%=QVR\r\n"
    "[QVR]\r\n" +
    Key28 + "QVR_Install,PCI\\VEN_7A3C&DEV_0528\r\n" + Key25 +
    "QVR_Install,PCI\\VEN_7A3C&DEV_0525\r\n"
    "[QVR_Install]\r\nCopyFiles=QVR.CopyFiles.Dll, QVR.CopyFiles.Mpd\r\n"
    ";CopyFiles=Old\r\n";
inline const std::string DriverInfCommented =
    "[Version]\r\nSignature=$CHICAGO$\r\n[Manufacturer]\r\n%QVR%=QVR\r\n"
    "[QVR]\r\n" +
    Key28 + "QVR_Install,PCI\\VEN_7A3C&DEV_0528\r\n" + Key25 +
    "QVR_Install,PCI\\VEN_7A3C&DEV_0525\r\n"
    "[QVR_Install]\r\n;CopyFiles=QVR.;CopyFiles.Dll, QVR.;CopyFiles.Mpd\r\n"
    ";CopyFiles=Old\r\n";
inline const std::string Mshdc =
    "[Manufacturer]\r\n%Std%=Std\r\n[Std]\r\n" + Key28 + "Std_Hdc\r\n" + Key25 +
    "Std_Hdc\r\n%PCI\\VEN_8086&DEV_1230.DeviceDesc%=Std_Hdc\r\n";
inline const std::string MshdcCommented =
    "[Manufacturer]\r\n%Std%=Std\r\n[Std]\r\n;" + Key28 + "Std_Hdc\r\n;" +
    Key25 + "Std_Hdc\r\n%PCI\\VEN_8086&DEV_1230.DeviceDesc%=Std_Hdc\r\n";

inline const std::string ProgressCaption =
    "QVR PCI0528/PCI0525 Driver Setup Utility";
inline const std::string ErrorCaption =
    "QVR PCI0528/PCI0525 Driver Setup Utility - Error!";
inline const std::string RestartText =
    "Windows must restart to continue setup.  Do you want to restart "
    "Windows now?  ";

inline const char *const ClassKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc";
inline const char *const PciKey = "HKEY_LOCAL_MACHINE\\Enum\\PCI";
inline const char *const MfKey = "HKEY_LOCAL_MACHINE\\Enum\\MF";

inline std::string DriverKeySection(int n, const std::string &date) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", n);
    return "[" + std::string(ClassKey) + "\\" + name + "]\n" +
           "\"DriverDate\"=\"" + date + "\"\n\"DriverDesc\"=\"IDE\"\n\n";
}

// The registry, written the way the emulation writes it back, so that an
// undone run leaves the very same text.
inline std::string StandardRegistry() {
    std::string r;
    r += "[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Enum]\n\n";
    r += "[" + std::string(MfKey) + "]\n\n";
    r += "[" + std::string(MfKey) + "\\CHILD0000]\n\n";
    r += "[" + std::string(MfKey) +
         "\\CHILD0000\\PCI&VEN_7A3C&DEV_0528&BUS_00&DEV_0A&FUNC_00]\n"
         "\"Class\"=\"hdc\"\n\"Mfg\"=\"Old Vendor\"\n"
         "\"Driver\"=\"hdc\\\\0002\"\n\n";
    r += "[" + std::string(MfKey) +
         "\\CHILD0000\\PCI&VEN_8086&DEV_1230&BUS_00&DEV_0B&FUNC_00]\n"
         "\"Mfg\"=\"Other Maker\"\n\"Driver\"=\"hdc\\\\0009\"\n\n";
    r += "[" + std::string(MfKey) + "\\CHILD0001]\n\n";
    r += "[" + std::string(MfKey) +
         "\\CHILD0001\\PCI&VEN_7A3C&DEV_0528&BUS_00&DEV_0A&FUNC_01]\n"
         "\"Mfg\"=\"QVR Technology Inc.\"\n\"Driver\"=\"hdc\\\\0003\"\n\n";
    r += "[" + std::string(PciKey) + "]\n\n";
    r += "[" + std::string(PciKey) + "\\VEN_7A3C&DEV_0528]\n\n";
    r += "[" + std::string(PciKey) +
         "\\VEN_7A3C&DEV_0528\\BUS_00&DEV_0A]\n"
         "\"Mfg\"=\"Old Vendor\"\n\"Driver\"=\"hdc\\\\0001\"\n\n";
    r += "[" + std::string(PciKey) +
         "\\VEN_7A3C&DEV_0528\\BUS_00&DEV_0C]\n"
         "\"Mfg\"=\"QVR TECHNOLOGY\"\n\"Driver\"=\"hdc\\\\0004\"\n\n";
    r += "[" + std::string(PciKey) + "\\VEN_7A3C&DEV_0525]\n\n";
    r += "[" + std::string(PciKey) +
         "\\VEN_7A3C&DEV_0525\\BUS_00&DEV_0B]\n"
         "\"Mfg\"=\"QVR Technology\"\n\"Driver\"=\"hdc\\\\0005\"\n\n";
    r += "[" + std::string(PciKey) +
         "\\VEN_7A3C&DEV_0525\\BUS_00&DEV_0D]\n"
         "\"Driver\"=\"hdc\\\\0006\"\n\n";
    r += "[" + std::string(PciKey) + "\\VEN_7A3C&DEV_0600]\n\n";
    r += "[" + std::string(PciKey) +
         "\\VEN_7A3C&DEV_0600\\BUS_00&DEV_0E]\n"
         "\"Mfg\"=\"Old Vendor\"\n\"Driver\"=\"hdc\\\\0007\"\n\n";
    r += "[HKEY_LOCAL_MACHINE\\System]\n\n";
    r += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet]\n\n";
    r += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services]\n\n";
    r += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class]\n\n";
    r += "[" + std::string(ClassKey) + "]\n\n";
    for (int n = 1; n <= 9; ++n) r += DriverKeySection(n, "1-1-15");
    r += "[HKEY_USERS]\n";
    return r;
}

// Sets a host file's last-write time to noon UTC of the given day.
inline void SetFileDate(const std::filesystem::path &file, int year, int month,
                        int day) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = 12;
    utimbuf times{};
    times.actime = times.modtime = timegm(&when);
    ASSERT_EQ(utime(file.c_str(), &times), 0) << file;
}

class SetupMachine : public scenario::Machine {
  public:
    SetupMachine() {
        WriteFile("A:\\HBX52XX.MPD", PortDriver);
        SetFileDate(HostPath("A:\\HBX52XX.MPD"), 1996, 9, 23);
        WriteFile("A:\\QVRIDE.DLL", "new driver library");
        WriteFile("A:\\PARLOD.EXE", "new preload program");
        WriteFile("A:\\PARLOD.INI", "# 1\r\n* new parameters\r\n");
        WriteFile("A:\\README.INF", "[Version]\r\nno keys here\r\n");
        WriteFile("A:\\QVRDMA.INF", DriverInf);
        WriteFile("C:\\WINDOWS\\INF\\MSHDC.INF", Mshdc);
        WriteFile("C:\\WINDOWS\\INF\\oem0.inf",
                  "[Version]\r\nother vendor\r\n");
        WriteFile("C:\\WINDOWS\\INF\\oem1.inf",
                  "[Version]\r\nthird vendor\r\n");
        WriteFile("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\ESDI_506.PDR", "esdi");
        MakeDirectory("C:\\WINDOWS\\TEMP");
        WriteRegistry(StandardRegistry());
    }

    // An earlier installation: the four files and an old instance of the
    // driver INF in place, MSHDC.INF already edited.
    void AddEarlierInstall() {
        WriteFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", "old driver library");
        WriteFile("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD", "old port");
        WriteFile("C:\\VELTRANE\\PARLOD.EXE", "old preload program");
        WriteFile("C:\\VELTRANE\\PARLOD.INI", "old parameters");
        WriteFile("C:\\WINDOWS\\INF\\oem2.inf",
                  "[QVR]\r\n" + Key25 + "old\r\n");
        WriteFile("C:\\WINDOWS\\INF\\MSHDC.INF", MshdcCommented);
    }

    scenario::RunResult Setup(const std::string &args = "",
                              const std::string &answers = "yes,no",
                              const std::string &fail = "") const {
        scenario::RunOptions options;
        options.answers = answers;
        // Boxes beyond the answers (the error boxes of a failed run, OK
        // alone) take their default button.
        options.unanswered = "default";
        options.fail = fail;
        options.cwd = "A:\\";
        return Run("setup", args, options);
    }

    // Every file (with its bytes) and folder of the machine's drives, and
    // the registry text.
    std::map<std::string, std::string> State() const {
        std::map<std::string, std::string> state;
        for (const char *drive : {"A:\\", "C:\\"}) {
            for (const std::string &path : List(drive)) {
                std::filesystem::path host = HostPath(path);
                state[path] = std::filesystem::is_directory(host)
                                  ? "<dir>"
                                  : ReadFile(path);
            }
        }
        // Compared without the line ends that close the file, which the
        // emulation may write back differently.
        std::string registry = Registry();
        while (!registry.empty() &&
               (registry.back() == '\n' || registry.back() == '\r')) {
            registry.pop_back();
        }
        state["registry"] = registry;
        return state;
    }
};

// The texts put into the progress window's status control, in order.
inline std::vector<std::string> ProgressTexts(const scenario::RunResult &run) {
    std::vector<std::string> texts;
    for (const auto &event : run.Events("SetWindowText")) {
        if (event["control"] == 1001) texts.push_back(event["text"]);
    }
    return texts;
}

// setup's working folder, which holds its journal.
inline const std::string TempFolder = "C:\\WINDOWS\\TEMP\\qvrback";
inline const std::string RecoveredText =
    "Setup was interrupted before it finished.  The changes it had made "
    "have been undone.";

// Whether the run was cut short by a planned crash.
inline bool Crashed(const scenario::RunResult &run) {
    for (const auto &fault : run.Events("Fault")) {
        if (fault.value("error", nlohmann::json()) == "crash") return true;
    }
    return false;
}

// The section of a registry text for one key, "" when the key is absent.
inline std::string KeySection(const std::string &registry,
                              const std::string &key) {
    std::string head = "[" + key + "]\r\n";
    std::size_t at = registry.find(head);
    if (at == std::string::npos) return "";
    std::size_t end = registry.find("\r\n[", at + head.size());
    return registry.substr(at, end == std::string::npos ? end : end - at);
}

inline bool HasKey(const std::string &registry, const std::string &key) {
    return !KeySection(registry, key).empty();
}

inline std::string DriverDate(const std::string &registry, int n) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", n);
    std::string section =
        KeySection(registry, std::string(ClassKey) + "\\" + name);
    std::size_t at = section.find("\"DriverDate\"=\"");
    if (at == std::string::npos) return "<none>";
    at += 14;
    return section.substr(at, section.find('"', at) - at);
}

}  // namespace setup_test

#endif
