/* The identifiers of the programs' resources, shared by the resource
   scripts and the programs' code. Only #define lines: the resource compiler
   reads this file too. */
#ifndef RESOURCE_IDS_H
#define RESOURCE_IDS_H

/* parlod: the reboot notice. */
#define IDD_REBOOT_NOTICE 105

/* setup: the progress window and its status line. */
#define IDD_PROGRESS 106
#define IDC_PROGRESS_STATUS 1001

#endif
