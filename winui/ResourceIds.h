// Resource identifiers of pelvar.exe; shared by the .rc file and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_PELVAR_DIALOG 102
#define IDR_MAINFRAME 128
