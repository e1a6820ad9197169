#pragma once
// Window classes and control ids of the two windows. The test probe reads the controls by these.

#define KESTRIX_START_CLASS L"KestrixStart"
#define KESTRIX_REPAIR_CLASS L"KestrixRepair"

// The start window.
#define IDC_BOOT_SECTOR_ONLY 1001
#define IDC_START 1002
#define IDC_START_NOTICE 1003
#define IDC_START_TITLE 1004

// The repair window.
#define IDC_PROGRESS_LOG 2001
#define IDC_CONFIRM 2003
#define IDC_PARTITION 2004
#define IDC_KEEP_OPEN 2005
#define IDC_INSTRUCTION 2006
#define IDT_AUTO_CLOSE 2007
