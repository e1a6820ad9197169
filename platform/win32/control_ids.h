#pragma once
// Window classes and control ids of the two windows. The test probe reads the controls by these.

#define KESTRIX_MAIN_CLASS L"KestrixMain"
#define KESTRIX_SELECTION_CLASS L"KestrixSelection"

// ch1
#define IDC_FX1 1001
#define IDC_COMMAND2 1002
#define IDC_CH1_LABEL2 1003
#define IDC_CH1_LABEL1 1004

// ch2
#define IDC_L2 2001
#define IDC_D1 2002
#define IDC_AN1 2003
#define IDC_L1 2004
#define IDC_CH2_LABEL2 2005
#define IDC_CH2_LABEL1 2006
#define IDT_E_T1 2007
