// The process-wide state of parlod.
#include "parlod_state.h"

WORD RunOptions = 0;
DWORD LoadStatus = 0;

char ParameterFilePath[TEXT_SIZE] = "c:\\veltrane\\parlod.ini";
char TextBuffer[TEXT_SIZE];
const char AppCaption[] = "QVR Driver Parameters Preload Utility";

char DeviceClass[TEXT_SIZE] = "hdc";
char PrimaryDescription[TEXT_SIZE] = "Primary QVR Bus Master IDE controller";
char SecondaryDescription[TEXT_SIZE] =
    "Secondary QVR Bus Master IDE controller";
char StartupEntry[TEXT_SIZE] = "c:\\veltrane\\parlod";
LONG ControllerCount = 0;
LONG ChannelOptionsOverride = 0;

ControllerEntry **ChannelListBlock = NULL;
ControllerEntry **PrimaryList = NULL;
ControllerEntry **SecondaryList = NULL;
LONG PrimaryCount = 0;
LONG SecondaryCount = 0;
