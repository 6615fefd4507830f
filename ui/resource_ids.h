#pragma once
// Identifiers shared by the resource script and the code. Plain #defines:
// the resource compiler reads this file too.
#define IDD_UPDATE 102
#define IDI_UPDATE 112
#define IDC_PROGRESS 1008
#define IDC_PERCENT 1009
#define IDC_STATUS 1010
