#pragma once
// The system's numeric values that the logic exchanges with the platform
// layer. Kept apart from platform.h because the Win32 backend gets the same
// names as macros from <windows.h>.

// Message box styles and answers.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Window messages.
constexpr unsigned WM_DESTROY = 0x0002;
constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_INITDIALOG = 0x0110;
constexpr unsigned WM_COMMAND = 0x0111;
constexpr unsigned WM_USER = 0x0400;
