// Control numbers of the dialog "MAIN".
#pragma once

#define IDC_APPICON 128
#define IDC_ABOUT 129
#define IDC_USAGE 130
#define IDC_OFFSET 131
