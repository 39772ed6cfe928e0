// Registry bodies and state resets shared by the parlod tests.
#ifndef TESTS_PARLOD_PARLOD_MACHINE_H
#define TESTS_PARLOD_PARLOD_MACHINE_H

#include <string>
#include <utility>
#include <vector>

#include "emulated_process.h"
#include "parlod_state.h"
#include "program_flow.h"
#include "scenario.h"

namespace parlod_test {

inline const std::string PRIMARY = "Primary QVR Bus Master IDE controller";
inline const std::string SECONDARY = "Secondary QVR Bus Master IDE controller";
inline const std::string ENUM = "HKEY_LOCAL_MACHINE\\Enum";

using Values = std::vector<std::pair<std::string, std::string>>;

inline std::string Escape(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// One REGEDIT4 section with string values and any `extra` value lines.
inline std::string Key(const std::string &path, const Values &values = {},
                       const std::string &extra = "") {
    std::string out = scenario::Section(path);
    for (const auto &[name, value] : values)
        out += "\"" + Escape(name) + "\"=\"" + Escape(value) + "\"\n";
    return out + extra + "\n";
}

// The instance name of controller `number`'s channels under Enum\MF: the
// 22 characters that all channels share, then the PCI location.
inline std::string ChannelName(int number) {
    return "PCI&VEN_7A3C&DEV_0528&BUS_00&DEV_" + std::to_string(10 + number) +
           "&FUNC_00";
}

inline std::string ChannelPath(int number, bool primary) {
    return ENUM + (primary ? "\\MF\\CHILD0000\\" : "\\MF\\CHILD0001\\") +
           ChannelName(number);
}

// A channel instance of class hdc, with "AdapterSettings" when `settings`
// is not empty.
inline std::string Channel(int number, bool primary,
                           const std::string &settings = "") {
    Values values = {{"Class", "hdc"},
                     {"DeviceDesc", primary ? PRIMARY : SECONDARY}};
    if (!settings.empty()) values.push_back({"AdapterSettings", settings});
    return Key(ChannelPath(number, primary), values);
}

inline std::string PciPath(int number) {
    return ENUM +
           "\\PCI\\VEN_7A3C&DEV_0528&SUBSYS_00000000&REV_01\\BUS_00&DEV_" +
           std::to_string(10 + number) + "&FUNC_00";
}

inline std::string PciFunction(int number,
                               const std::string &mfg = "QVR Technology",
                               const std::string &extra = "") {
    return Key(PciPath(number), {{"Class", "hdc"}, {"Mfg", mfg}}, extra);
}

// The channels of `count` controllers under Enum\MF, listed in reverse
// order so that discovery has to sort them. With `settings`, every channel
// already holds that "AdapterSettings" value.
inline std::string Channels(int count, const std::string &settings = "") {
    std::string body;
    for (int k = count - 1; k >= 0; --k) body += Channel(k, true, settings);
    for (int k = count - 1; k >= 0; --k) body += Channel(k, false, settings);
    return body;
}

// Channels and PCI functions of `count` controllers.
inline std::string Controllers(int count, const std::string &settings = "") {
    std::string body = Channels(count, settings);
    for (int k = 0; k < count; ++k) body += PciFunction(k);
    return body;
}

// Releases the channel entries and puts the process-wide state back to its
// start, for tests that call the program's operations directly.
inline void ResetParlodState() {
    ReleaseChannelEntries();
    RunOptions = 0;
    LoadStatus = 0;
    ControllerCount = 0;
    ChannelOptionsOverride = 0;
    lstrcpyA(ParameterFilePath, "c:\\veltrane\\parlod.ini");
    lstrcpyA(DeviceClass, "hdc");
    lstrcpyA(PrimaryDescription, PRIMARY.c_str());
    lstrcpyA(SecondaryDescription, SECONDARY.c_str());
    lstrcpyA(StartupEntry, "c:\\veltrane\\parlod");
    w95::ResetEmulatedProcess();
}

// Run options with scripted answers, or with faults. The boxes of a run
// with faults (the error boxes they bring, OK alone) take their default
// button.
inline scenario::RunOptions Answers(const std::string &answers) {
    scenario::RunOptions options;
    options.answers = answers;
    return options;
}
inline scenario::RunOptions Fail(const std::string &fail) {
    scenario::RunOptions options;
    options.fail = fail;
    options.unanswered = "default";
    return options;
}

inline const std::string WIN_INI = "C:\\WINDOWS\\win.ini";
inline const std::string PARAMETER_FILE = "C:\\veltrane\\parlod.ini";
inline const std::string STARTUP_WIN_INI =
    "[windows]\r\nload=c:\\veltrane\\parlod\r\nrun=\r\n";
inline const std::string CLEAN_WIN_INI = "[windows]\r\nload=\r\nrun=\r\n";

// A value of a key in the REGEDIT4 text `registry`, as the file writes it
// ("\"text\"", "hex:03"); "<no key>" or "<none>" when it is not there.
inline std::string RegistryValue(const std::string &registry,
                                 const std::string &key,
                                 const std::string &name) {
    std::string header = "[" + key + "]\r\n";
    size_t start = registry.find(header);
    if (start == std::string::npos) return "<no key>";
    size_t end = registry.find("\r\n[", start);
    std::string section = registry.substr(start, end - start) + "\r\n";
    std::string needle = "\r\n\"" + Escape(name) + "\"=";
    size_t at = section.find(needle);
    if (at == std::string::npos) return "<none>";
    at += needle.size();
    return section.substr(at, section.find("\r\n", at) - at);
}

// A machine with a virtual clock, `controllers` controllers and a win.ini
// that starts parlod.
class PreloadMachine : public scenario::Machine {
  public:
    explicit PreloadMachine(int controllers = 2,
                            const std::string &settings = "") {
        WriteMachineIni("[machine]\nClock=virtual\n");
        WriteRegistry(Controllers(controllers, settings));
        WriteFile(WIN_INI, STARTUP_WIN_INI);
    }

    void Parameters(const std::string &text) {
        WriteFile(PARAMETER_FILE, text);
    }

    std::string Value(const std::string &key, const std::string &name) const {
        return RegistryValue(Registry(), key, name);
    }
    std::string Settings(int number, bool primary) const {
        return Value(ChannelPath(number, primary), "AdapterSettings");
    }
    std::string ChannelOptions(int number) const {
        return Value(PciPath(number), "ChannelOptions");
    }
    std::string WinIni() const { return ReadFile(WIN_INI); }
};

}  // namespace parlod_test

#endif
