// The run's spine: read, report or write, clean up, and restart Windows when
// a parameter string was written.
#include "program_flow.h"

#include "channel_settings.h"
#include "parameter_file.h"
#include "parlod_state.h"
#include "resource_ids.h"
#include "startup_entry.h"

namespace {

constexpr DWORD REBOOT_NOTICE_MILLISECONDS = 5000;

void ShowError(const char *text) {
    MessageBoxA(NULL, text, AppCaption, MB_OK | MB_ICONERROR);
}

// The notice, five seconds, and the restart request.
void RebootSystem(HINSTANCE instance) {
    HWND notice = CreateDialogParamA(
        instance, MAKEINTRESOURCEA(IDD_REBOOT_NOTICE), NULL, NULL, 0);
    SetWindowTextA(notice, AppCaption);
    // Nothing dispatches messages while the notice stands: it is painted
    // now, or it would show an empty body until Windows restarts.
    if (notice != NULL) UpdateWindow(notice);
    // Unsigned differences stay right when the tick count wraps. No
    // messages are dispatched while the notice stands.
    DWORD start = GetTickCount();
    while (GetTickCount() - start < REBOOT_NOTICE_MILLISECONDS) Sleep(50);
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) {
        wsprintfA(TextBuffer, "Cannot shutdown!  Error code = %lu.",
                  (unsigned long)GetLastError());
        ShowError(TextBuffer);
    }
    DestroyWindow(notice);
}

}  // namespace

void ReportLoadStatus() {
    struct StatusText {
        DWORD bit;
        const char *text;
        bool quiet;  // shown only in verbose mode, and the run goes on
    };
    static const StatusText texts[] = {
        {ST_FILE_NOT_FOUND, "File \"c:\\veltrane\\parlod.ini\" not found!",
         false},
        {ST_NO_VALID_INFO,
         "File \"c:\\veltrane\\parlod.ini\" does not contain any valid "
         "information!",
         false},
        {ST_ZERO_DEVICES, "0 device specified.", true},
        {ST_OUT_OF_MEMORY, "Out of memory!", false},
        {ST_NO_DEVICE_FOUND,
         "No device found in the registry (cannot find subkey of "
         "HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000/CHILD0001)!",
         false},
        {ST_NOTHING_TO_SET, "No device parameters can be set.", true},
    };
    for (const StatusText &status : texts) {
        if ((LoadStatus & status.bit) == 0) continue;
        if (status.quiet) {
            if ((RunOptions & OPT_VERBOSE) != 0) ShowError(status.text);
            return;
        }
        ShowError(status.text);
        RemoveStartupEntry();
        ExitProcess(1);
    }
}

void ReleaseChannelEntries() {
    if (ChannelListBlock == NULL) return;
    for (LONG k = 0; k < PrimaryCount; ++k) {
        if (PrimaryList[k] == NULL) continue;
        RegCloseKey(PrimaryList[k]->InstanceKey);
        LocalFree(PrimaryList[k]);
    }
    for (LONG k = 0; k < SecondaryCount; ++k) {
        if (SecondaryList[k] == NULL) continue;
        RegCloseKey(SecondaryList[k]->InstanceKey);
        LocalFree(SecondaryList[k]);
    }
    LocalFree(ChannelListBlock);
    ChannelListBlock = NULL;
    PrimaryList = NULL;
    SecondaryList = NULL;
    PrimaryCount = 0;
    SecondaryCount = 0;
}

// The settings reach the disk before the start-up entry goes: a power loss
// in between then leaves the values written, or the entry that writes them
// at the next start, never neither.
void CleanUpRun() {
    ReleaseChannelEntries();
    RegFlushKey(HKEY_LOCAL_MACHINE);
    RemoveStartupEntry();
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int) {
    ReadParameterFile(lpCmdLine);
    if (LoadStatus != 0) {
        ReportLoadStatus();
        CleanUpRun();
        return 0;
    }
    ApplyChannelSettings();
    CleanUpRun();
    if ((RunOptions & OPT_SETTINGS_WRITTEN) == 0) return 0;
    if ((RunOptions & (OPT_VERBOSE | OPT_PROMPT_REBOOT)) != 0 &&
        MessageBoxA(NULL,
                    "Do you want to reboot the system?\n(The system must be "
                    "rebooted before the driver parameterscan take effect.)",
                    AppCaption, MB_YESNO | MB_ICONQUESTION) == IDNO)
        return 0;
    RebootSystem(hInstance);
    return 0;
}
