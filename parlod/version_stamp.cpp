// parlod's version stamp, found in the .exe by setup's version probe.
#include "version_stamp.h"
DEFINE_VERSION_STAMP(
    "QVR PCI0528/PCI0525 Driver Parameters Preload Utility V1.02 \n"
    "  for Windows 95 (960909)")
