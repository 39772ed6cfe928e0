// setup's version stamp.
#include "version_stamp.h"

DEFINE_VERSION_STAMP(
    "QVR PCI0528/PCI0525 Driver Setup Utility V1.02 \n  for Windows 95 "
    "(960923)")
