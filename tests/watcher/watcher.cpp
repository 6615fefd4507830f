// Runs a GUI program under Wine and plays the user: reports every message
// box and the progress window it shows, answers the boxes from a list and
// reports how the program ended. One JSON object per line on stdout; texts
// are the hex of the bytes the "A" functions give (code page 932 on a system
// set to Japanese), so the reader decodes them. The texts of boxes and of the
// progress window also come as the windows hold them, read with the "W"
// functions, as the hex of their UTF-8 (the fields ending in _w).
//
//   watcher.exe [options] PROGRAM.exe [ANSWER...]
//     ANSWER          OK, Cancel, Yes or No, used in order of the boxes
//     --timeout MS    kill the program after MS milliseconds (default 60000)
//     --settle MS     how long a box that has become visible may take to be
//                     fully shown (its text set, a button and its icon
//                     showing), and the focus to come back after a second
//                     start (default 4000); the harness sets it from its scale
//     --poll MS       milliseconds between two looks at the windows (default 1);
//                     the percentage may show for a few milliseconds only
//     --hold PATH     keep PATH open, sharing read access only, while the
//                     program runs (may be given more than once)
//     --second-at N   when box N (from 1) shows, start PROGRAM a second time
//                     and report what it shows and how it ends before
//                     answering box N
//     --pause-dir DIR before answering box N, wait until the file DIR\go-N
//                     exists (the demonstration takes its picture meanwhile)
//     --observe       leave every box to the person at the screen: answer
//                     none, just report
//     --no-hook       do not place watch_hook.dll in the program (the hook
//                     slows every window message down: for timing runs)
//     --ping MS       from the progress window's showing until it is gone,
//                     send it WM_NULL every MS milliseconds from a thread of
//                     its own and time each reply (window_ping.h)
//     --ping-mark PATH  with each slow reply, note whether PATH existed
//
// Events:
//   start        {pid, hook} or {error} when the program cannot be started
//   hold         {path, ok, error}
//   window       a visible top-level window that is neither a box nor the
//                progress window {hwnd, class, title}
//   progress     the progress window first seen {hwnd, visible, title, status,
//                title_w, status_w}
//   progress_visible {visible, title, status, title_w, status_w} / progress_gone
//   percent      each distinct text of the percentage control seen by polling
//   percent_set  each text the program gave that control, in order, as
//                watch_hook.dll logged it inside the program (at the end)
//   message      {index, hwnd, rect, text, caption, text_w, caption_w, text_rect,
//                buttons, icon, owner, settled, settle_ms, ...}: read once the box
//                is fully shown (settled true), or when the limit passed or the
//                box went away first (settled false: read as it was last seen)
//   answer       {index, answer, ok}
//   unanswered   a box showed with no answer left: the program is killed
//   second_*     what the second start did (second_start, second_window,
//                second_exit)
//   ping         with --ping, at the end: {replies, started_ms, last_reply_ms,
//                slowest: [{sent_ms, wait_ms, percent_before, percent_after,
//                mark_before, mark_after, answered}]}
//   timeout      the program was killed after --timeout
//   exit         {code, mark}: mark tells whether the program left by its own
//                exit path, as watch_hook.dll saw it (see ExitMark)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/watcher/window_ping.h"

namespace {

constexpr int kProgressBarId = 1008;
constexpr int kPercentId = 1009;
constexpr int kStatusId = 1010;
constexpr int kBoxTextId = 0xFFFF;

// ---- output ----

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// For ASCII values (class names, answers, paths typed by the test).
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string HandleText(HWND window) {
  char text[32];
  std::snprintf(text, sizeof text, "\"%#lx\"", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
  return text;
}

std::string Bool(bool value) { return value ? "true" : "false"; }

DWORD g_startTick = 0;

// Writes {"event":NAME,"ms":..., FIELDS} and flushes: the reader may be
// waiting for this very line.
void Emit(const char* name, const std::string& fields = "") {
  std::printf("{\"event\":\"%s\",\"ms\":%lu%s%s}\n", name, static_cast<unsigned long>(GetTickCount() - g_startTick),
              fields.empty() ? "" : ",", fields.c_str());
  std::fflush(stdout);
}

// ---- looking at windows ----

// Reads what the window manager keeps for the window, without sending it a
// message: the program may be busy writing and must not be slowed down.
std::string WindowText(HWND window) {
  if (window == nullptr) return "";
  char text[4096];
  int length = GetWindowTextA(window, text, sizeof text);
  return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

// The same text as the window holds it, in UTF-8: whatever code page the
// system is set to.
std::string WideWindowText(HWND window) {
  if (window == nullptr) return "";
  wchar_t text[4096];
  int length = GetWindowTextW(window, text, sizeof text / sizeof text[0]);
  if (length <= 0) return "";
  char utf8[4096 * 3];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8, nullptr, nullptr);
  return std::string(utf8, bytes > 0 ? static_cast<size_t>(bytes) : 0);
}

// The fields title, status, title_w and status_w of the progress window.
std::string ProgressTexts(HWND window) {
  HWND status = GetDlgItem(window, kStatusId);
  return "\"title\":\"" + Hex(WindowText(window)) + "\",\"status\":\"" + Hex(WindowText(status)) +
         "\",\"title_w\":\"" + Hex(WideWindowText(window)) + "\",\"status_w\":\"" +
         Hex(WideWindowText(status)) + "\"";
}

std::string ClassOf(HWND window) {
  char name[256];
  int length = GetClassNameA(window, name, sizeof name);
  return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

struct Collected {
  DWORD pid;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  Collected* collected = reinterpret_cast<Collected*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == collected->pid) collected->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
  Collected collected{pid, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&collected));
  return collected.windows;
}

bool IsDialog(HWND window) { return ClassOf(window) == "#32770"; }
bool IsMessageBox(HWND window) { return IsDialog(window) && GetDlgItem(window, kBoxTextId) != nullptr; }
bool IsProgressWindow(HWND window) { return IsDialog(window) && GetDlgItem(window, kProgressBarId) != nullptr; }

struct IconFinder {
  HWND icon;
};

BOOL CALLBACK FindIconStatic(HWND child, LPARAM param) {
  if (ClassOf(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    reinterpret_cast<IconFinder*>(param)->icon = child;
    return FALSE;
  }
  return TRUE;
}

// Names the box's icon. The icon control's handle is compared with the
// standard icons first; Wine loads the standard icons per process, so the
// handles differ there and the pictures are compared instead.
struct IconReport {
  std::string name;    // none, question, warning, error, information, unknown
  std::string method;  // hidden, handle, pixels, no reply
  unsigned long distance;
};

const struct {
  LPCSTR id;
  const char* name;
} kStandardIcons[] = {
    {IDI_QUESTION, "question"},
    {IDI_WARNING, "warning"},
    {IDI_ERROR, "error"},
    {IDI_INFORMATION, "information"},
};

// The icon as drawn on the screen over the given background, 32x32 RGB.
std::vector<COLORREF> RenderIcon(HICON icon, COLORREF background) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(background);
  RECT all = {0, 0, 32, 32};
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  DrawIconEx(memory, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) pixels.push_back(GetPixel(memory, x, y));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// What the icon control shows on the screen, 32x32 from its top left. Read
// from the screen: a device context of another process's window gives no
// pixels under Wine.
std::vector<COLORREF> CaptureControl(HWND control, bool* ok) {
  std::vector<COLORREF> pixels;
  RECT where;
  HDC screen = GetDC(nullptr);
  *ok = screen != nullptr && GetWindowRect(control, &where);
  if (!*ok) {
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return pixels;
  }
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      COLORREF c = GetPixel(screen, where.left + x, where.top + y);
      if (c == CLR_INVALID) *ok = false;
      pixels.push_back(c);
    }
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Sum of channel differences over 32x32 pixels up to which two pictures
// count as the same icon; the standard icons differ by far more.
constexpr unsigned long kIconTolerance = 32 * 32 * 3 * 4;

unsigned long Distance(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
  unsigned long sum = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    sum += static_cast<unsigned long>(std::abs(GetRValue(a[i]) - GetRValue(b[i])) +
                                      std::abs(GetGValue(a[i]) - GetGValue(b[i])) +
                                      std::abs(GetBValue(a[i]) - GetBValue(b[i])));
  }
  return sum;
}

// The box's icon control as the box holds it now.
struct BoxIcon {
  HWND control = nullptr;  // none: a box made without one
  bool visible = false;
  bool answered = false;  // it told which icon it holds (STM_GETICON)
  DWORD_PTR handle = 0;
};

BoxIcon ReadBoxIcon(HWND box, DWORD replyMs) {
  BoxIcon icon;
  IconFinder finder{nullptr};
  EnumChildWindows(box, FindIconStatic, reinterpret_cast<LPARAM>(&finder));
  icon.control = finder.icon;
  if (icon.control == nullptr) return icon;
  icon.visible = IsWindowVisible(icon.control) != FALSE;
  if (!icon.visible) return icon;
  // A message, so a busy machine may take a moment to answer; no answer is
  // not "no icon".
  icon.answered = SendMessageTimeoutA(icon.control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG,
                                      replyMs > 0 ? replyMs : 1, &icon.handle) != 0;
  return icon;
}

bool AnyButtonShows(HWND box) {
  for (int id = IDOK; id <= IDNO; ++id) {
    HWND button = GetDlgItem(box, id);
    if (button != nullptr && IsWindowVisible(button)) return true;
  }
  return false;
}

// A box may be seen visible a moment before it is all there (seen under a
// loaded emulator: the icon read as none). Fully shown: visible, its text
// set, a button showing, and its icon control, where it has one, showing
// and telling its icon. Waits for that up to limitMs; *icon is the icon as
// last read. False when the limit passed or the box went away first.
bool WaitUntilFullyShown(HWND box, DWORD limitMs, BoxIcon* icon, DWORD* waitedMs) {
  DWORD begin = GetTickCount();
  for (;;) {
    DWORD spent = GetTickCount() - begin;
    DWORD left = spent < limitMs ? limitMs - spent : 0;
    bool shown = IsWindowVisible(box) && !WideWindowText(GetDlgItem(box, kBoxTextId)).empty() && AnyButtonShows(box);
    if (shown) {
      *icon = ReadBoxIcon(box, left);
      shown = icon->control == nullptr || (icon->visible && icon->answered);
    }
    *waitedMs = GetTickCount() - begin;
    if (shown) return true;
    if (left == 0 || !IsWindow(box)) return false;
    Sleep(5);
  }
}

IconReport IdentifyIcon(const BoxIcon& icon, DWORD limitMs) {
  if (icon.control == nullptr || !icon.visible) return {"none", "hidden", 0};
  if (!icon.answered) return {"unknown", "no reply", 0};
  if (icon.handle == 0) return {"none", "handle", 0};
  for (const auto& standard : kStandardIcons) {
    if (reinterpret_cast<DWORD_PTR>(LoadIconA(nullptr, standard.id)) == icon.handle) {
      return {standard.name, "handle", 0};
    }
  }

  // A box that has just shown may not be painted yet: look again until the
  // limit before calling its icon unknown.
  IconReport best{"unknown", "pixels", ~0ul};
  DWORD begin = GetTickCount();
  for (int attempt = 0; attempt == 0 || GetTickCount() - begin < limitMs; ++attempt) {
    if (attempt > 0) Sleep(10);
    bool captured = false;
    std::vector<COLORREF> seen = CaptureControl(icon.control, &captured);
    if (!captured) continue;
    COLORREF background = seen[0];
    for (const auto& standard : kStandardIcons) {
      unsigned long d = Distance(seen, RenderIcon(LoadIconA(nullptr, standard.id), background));
      if (d < best.distance) best = {standard.name, "pixels", d};
    }
    // Anything but a close match is not one of the standard icons.
    if (best.distance <= kIconTolerance) return best;
  }
  best.name = "unknown";
  return best;
}

// ---- answering ----

int AnswerId(const std::string& answer) {
  if (answer == "OK") return IDOK;
  if (answer == "Cancel") return IDCANCEL;
  if (answer == "Yes") return IDYES;
  if (answer == "No") return IDNO;
  return 0;
}

bool Press(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  if (button == nullptr) return false;
  // Posted, not sent: the box's own loop takes it like a click.
  return PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != FALSE;
}

// ---- the run ----

struct Options {
  DWORD timeoutMs = 60000;
  DWORD settleMs = 4000;
  DWORD pollMs = 1;
  std::vector<std::string> holds;
  int secondAt = 0;
  std::string pauseDir;
  bool observe = false;
  bool hook = true;
  DWORD pingMs = 0;
  std::string pingMark;
  std::string program;
  std::vector<std::string> answers;
};

// Places watch_hook.dll (beside this program) in the program's main thread
// before it runs; the module logs each percentage to the file named by
// WATCH_HOOK_LOG, and its own loading and the process's normal exit to the
// one named by WATCH_EXIT_LOG, both of which the program inherits.
struct PercentHook {
  std::string logPath;
  std::string exitLogPath;
  HHOOK hook = nullptr;
};

bool NewLogFile(const char* variable, std::string* where) {
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, "wph", 0, path) == 0) return false;
  *where = path;
  return SetEnvironmentVariableA(variable, path) != FALSE;
}

bool PreparePercentHook(PercentHook* hook) {
  return NewLogFile("WATCH_HOOK_LOG", &hook->logPath) && NewLogFile("WATCH_EXIT_LOG", &hook->exitLogPath);
}

std::string ReadAndDelete(const std::string& path) {
  std::string text;
  if (path.empty()) return text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
  }
  DeleteFileA(path.c_str());
  return text;
}

// What the hook module saw of the program's end: "exit" when the process
// left by its own exit path, "none" when the module was in the process and
// saw no such exit (a crash, TerminateProcess, the emulator's death),
// "unloaded" when the module was unloaded before the end, "not_loaded" when
// the module never came into the process (no window was ever made there),
// "no_hook" when no hook was placed.
std::string ExitMark(const PercentHook& hook, bool placed, DWORD pid) {
  std::string log = ReadAndDelete(hook.exitLogPath);
  if (!placed) return "no_hook";
  const std::string id = " " + std::to_string(pid) + "\n";
  auto has = [&](const char* what) { return log.find("\n" + std::string(what) + id) != std::string::npos; };
  log = "\n" + log;
  if (has("exit")) return "exit";
  if (has("unload")) return "unloaded";
  return has("attach") ? "none" : "not_loaded";
}

DWORD PlacePercentHook(PercentHook* hook, DWORD threadId) {
  char module[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
  if (length == 0 || length >= sizeof module) return GetLastError();
  char* slash = std::strrchr(module, '\\');
  if (slash == nullptr) return ERROR_PATH_NOT_FOUND;
  std::strcpy(slash + 1, "watch_hook.dll");
  HMODULE library = LoadLibraryA(module);
  if (library == nullptr) return GetLastError();
  auto procedure = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(library, "WatchCallWndProc")));
  if (procedure == nullptr) return GetLastError();
  hook->hook = SetWindowsHookExW(WH_CALLWNDPROC, procedure, library, threadId);
  return hook->hook == nullptr ? GetLastError() : 0;
}

// The percentages the program set, in order, from the hook's log.
void ReportHookedPercents(PercentHook* hook) {
  if (hook->hook != nullptr) UnhookWindowsHookEx(hook->hook);
  std::string log = ReadAndDelete(hook->logPath);
  size_t start = 0;
  for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
    Emit("percent_set", "\"text\":\"" + Hex(log.substr(start, end - start)) + "\"");
  }
}

bool StartProgram(const std::string& program, PROCESS_INFORMATION* info, DWORD* error, DWORD flags = 0) {
  std::string commandLine = "\"" + program + "\"";
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  std::memset(info, 0, sizeof *info);
  if (CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                     info)) {
    return true;
  }
  *error = GetLastError();
  return false;
}

// Where the window lies on the screen, for a picture of it.
std::string RectText(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + "]";
}

std::string DescribeBox(HWND box, HWND progress, DWORD settleMs) {
  BoxIcon icon;
  DWORD waited = 0;
  bool settled = WaitUntilFullyShown(box, settleMs, &icon, &waited);
  std::string fields;
  fields += "\"hwnd\":" + HandleText(box) + ",\"rect\":" + RectText(box);
  fields += ",\"text\":\"" + Hex(WindowText(GetDlgItem(box, kBoxTextId))) + "\"";
  fields += ",\"caption\":\"" + Hex(WindowText(box)) + "\"";
  fields += ",\"text_w\":\"" + Hex(WideWindowText(GetDlgItem(box, kBoxTextId))) + "\"";
  fields += ",\"text_rect\":" + RectText(GetDlgItem(box, kBoxTextId));
  fields += ",\"caption_w\":\"" + Hex(WideWindowText(box)) + "\"";
  fields += ",\"buttons\":[";
  bool first = true;
  for (int id = IDOK; id <= IDNO; ++id) {
    HWND button = GetDlgItem(box, id);
    if (button == nullptr || !IsWindowVisible(button)) continue;
    fields += (first ? "" : ",") + std::to_string(id);
    first = false;
  }
  fields += "]";
  IconReport named = IdentifyIcon(icon, settleMs);
  fields += ",\"icon\":" + Quoted(named.name) + ",\"icon_method\":" + Quoted(named.method) +
            ",\"icon_distance\":" + std::to_string(named.distance);
  fields += ",\"settled\":" + Bool(settled) + ",\"settle_ms\":" + std::to_string(waited);
  HWND owner = GetWindow(box, GW_OWNER);
  const char* ownerKind = owner == nullptr ? "none" : (owner == progress ? "progress" : "other");
  fields += ",\"owner\":" + Quoted(ownerKind) + ",\"owner_hwnd\":" + HandleText(owner);
  fields += ",\"owner_class\":" + Quoted(owner == nullptr ? "" : ClassOf(owner));
  return fields;
}

// Holds the answer to box N back until DIR\go-N appears (or the program
// ends, or the time is up).
void WaitForGoAhead(const Options& options, int boxIndex, HANDLE process) {
  std::string flag = options.pauseDir + "\\go-" + std::to_string(boxIndex);
  Emit("paused", "\"index\":" + std::to_string(boxIndex));
  while (GetFileAttributesA(flag.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (WaitForSingleObject(process, 10) == WAIT_OBJECT_0) return;
    if (GetTickCount() - g_startTick > options.timeoutMs) return;
  }
}

// Watches a second start of the program to its end while the first waits.
void RunSecondStart(const Options& options, HWND firstBox) {
  // Another window takes the front first, as when the player has gone on
  // with something else: the second start must bring the first box back.
  HWND decoy = CreateWindowExA(0, "STATIC", "watcher decoy", WS_POPUP | WS_CAPTION | WS_VISIBLE, 40, 40, 200, 80,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (decoy != nullptr) SetForegroundWindow(decoy);
  PROCESS_INFORMATION info;
  DWORD error = 0;
  if (!StartProgram(options.program, &info, &error)) {
    Emit("second_start", "\"error\":" + std::to_string(error));
    if (decoy != nullptr) DestroyWindow(decoy);
    return;
  }
  Emit("second_start", "\"pid\":" + std::to_string(info.dwProcessId) + ",\"foreground_was_first_box\":" +
                           Bool(GetForegroundWindow() == firstBox));
  std::set<HWND> reported;
  DWORD begin = GetTickCount();
  bool ended = false;
  while (!ended) {
    ended = WaitForSingleObject(info.hProcess, options.pollMs) == WAIT_OBJECT_0;
    for (HWND window : TopLevelWindowsOf(info.dwProcessId)) {
      if (!IsWindowVisible(window) || !reported.insert(window).second) continue;
      Emit("second_window", "\"hwnd\":" + HandleText(window) + ",\"class\":" + Quoted(ClassOf(window)) +
                                ",\"title\":\"" + Hex(WindowText(window)) + "\"");
    }
    if (!ended && GetTickCount() - begin > options.timeoutMs) {
      TerminateProcess(info.hProcess, 0xDEAD);
      WaitForSingleObject(info.hProcess, INFINITE);
      Emit("second_timeout");
      ended = true;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  // Wine hands the focus over through the X server, after the call that
  // asked for it has returned: on a busy machine that takes a moment.
  HWND foreground = GetForegroundWindow();
  for (DWORD waited = GetTickCount(); foreground != firstBox && GetTickCount() - waited < options.settleMs;
       foreground = GetForegroundWindow()) {
    Sleep(20);
  }
  Emit("second_exit", "\"code\":" + std::to_string(code) + ",\"first_box_alive\":" +
                          Bool(IsWindow(firstBox) != FALSE) + ",\"foreground_is_first_box\":" +
                          Bool(foreground == firstBox));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  if (decoy != nullptr) DestroyWindow(decoy);
}

int Run(const Options& options) {
  std::vector<HANDLE> held;
  for (const std::string& path : options.holds) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    Emit("hold", "\"path\":" + Quoted(path) + ",\"ok\":" + Bool(file != INVALID_HANDLE_VALUE) +
                     ",\"error\":" + std::to_string(error));
    if (file != INVALID_HANDLE_VALUE) held.push_back(file);
  }

  PercentHook hook;
  bool hookReady = PreparePercentHook(&hook);
  PROCESS_INFORMATION info;
  DWORD error = 0;
  if (!StartProgram(options.program, &info, &error, CREATE_SUSPENDED)) {
    Emit("start", "\"error\":" + std::to_string(error));
    return 3;
  }
  DWORD hookError = !options.hook ? ERROR_CANCELLED
                    : hookReady     ? PlacePercentHook(&hook, info.dwThreadId)
                                    : GetLastError();
  ResumeThread(info.hThread);
  Emit("start", "\"pid\":" + std::to_string(info.dwProcessId) + ",\"hook\":" + Bool(hookError == 0) +
                    ",\"hook_error\":" + std::to_string(hookError));

  std::set<HWND> seenBoxes;
  std::set<HWND> seenOthers;
  HWND progress = nullptr;
  bool progressVisible = false;
  std::string lastPercent;
  bool percentSeen = false;
  size_t nextAnswer = 0;
  int boxCount = 0;
  bool ended = false;

  HWND percentControl = nullptr;
  WindowPing* ping = nullptr;
  auto watchPercent = [&]() {
    std::string percent = WindowText(percentControl);
    if (!percent.empty() && (!percentSeen || percent != lastPercent)) {
      percentSeen = true;
      lastPercent = percent;
      Emit("percent", "\"text\":\"" + Hex(percent) + "\"");
    }
  };

  while (!ended) {
    // A slow look (--poll above a few milliseconds) is for timing runs: no spinning then.
    if (percentControl != nullptr && options.pollMs <= 5 && IsWindow(percentControl)) {
      // The last percentage may stand for a few milliseconds only before
      // the window closes: between two full looks, watch just that text.
      DWORD until = GetTickCount() + options.pollMs + 2;
      while (static_cast<int>(until - GetTickCount()) > 0 && IsWindow(percentControl)) watchPercent();
      ended = WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0;
    } else {
      ended = WaitForSingleObject(info.hProcess, options.pollMs) == WAIT_OBJECT_0;
    }
    // Windows still listed after the end are gone; nothing more to see.
    if (ended) break;

    if (progress != nullptr && !IsWindow(progress)) {
      Emit("progress_gone");
      progress = nullptr;
      percentControl = nullptr;
    }
    for (HWND window : TopLevelWindowsOf(info.dwProcessId)) {
      if (progress == nullptr && IsProgressWindow(window)) {
        progress = window;

        progressVisible = IsWindowVisible(window) != FALSE;
        Emit("progress", "\"hwnd\":" + HandleText(window) + ",\"visible\":" + Bool(progressVisible) + "," +
                             ProgressTexts(window));
      }
      if (window == progress) continue;
      // A box is read once it shows: before that its texts may be half set.
      if (!IsWindowVisible(window)) continue;
      if (IsMessageBox(window)) {
        if (!seenBoxes.insert(window).second) continue;
        ++boxCount;
        Emit("message", "\"index\":" + std::to_string(boxCount) + "," + DescribeBox(window, progress, options.settleMs));
        if (options.secondAt == boxCount) RunSecondStart(options, window);
        if (options.observe) continue;
        if (nextAnswer >= options.answers.size()) {
          Emit("unanswered", "\"index\":" + std::to_string(boxCount));
          TerminateProcess(info.hProcess, 0xDEAD);
          continue;
        }
        const std::string& answer = options.answers[nextAnswer++];
        if (!options.pauseDir.empty()) WaitForGoAhead(options, boxCount, info.hProcess);
        Emit("answer", "\"index\":" + std::to_string(boxCount) + ",\"answer\":" + Quoted(answer) +
                           ",\"ok\":" + Bool(Press(window, AnswerId(answer))));
      } else {
        // A window that went away between the checks (a box just answered,
        // closing) has no class left to read: it is no other window.
        const std::string windowClass = ClassOf(window);
        if (windowClass.empty() || !seenOthers.insert(window).second) continue;
        Emit("window", "\"hwnd\":" + HandleText(window) + ",\"class\":" + Quoted(windowClass) +
                           ",\"title\":\"" + Hex(WindowText(window)) + "\"");
      }
    }

    if (progress != nullptr) {
      // Seen while its controls are still being made, the window may not
      // have the percentage yet.
      if (percentControl == nullptr) percentControl = GetDlgItem(progress, kPercentId);
      bool visible = IsWindowVisible(progress) != FALSE;
      if (visible != progressVisible) {
        progressVisible = visible;
        // Until it shows, the window may still be setting itself up: its
        // texts count from here.
        Emit("progress_visible", "\"visible\":" + Bool(visible) + ",\"rect\":" + RectText(progress) + "," +
                                     ProgressTexts(progress));
      }
      if (progressVisible && options.pingMs > 0 && ping == nullptr) {
        ping = StartWindowPing(progress, kPercentId, options.pingMs, options.pingMark, g_startTick);
      }
      if (percentControl != nullptr) watchPercent();
    }

    if (GetTickCount() - g_startTick > options.timeoutMs) {
      Emit("timeout");
      TerminateProcess(info.hProcess, 0xDEAD);
    }
  }

  ReportHookedPercents(&hook);
  if (ping != nullptr) Emit("ping", FinishWindowPing(ping));
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  Emit("exit", "\"code\":" + std::to_string(code) + ",\"mark\":" +
                   Quoted(ExitMark(hook, hookError == 0, info.dwProcessId)));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  for (HANDLE file : held) CloseHandle(file);
  return 0;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string name = argv[i];
    if (name == "--observe") {
      options->observe = true;
      continue;
    }
    if (name == "--no-hook") {
      options->hook = false;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (name == "--timeout") {
      options->timeoutMs = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
    } else if (name == "--settle") {
      options->settleMs = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
    } else if (name == "--poll") {
      options->pollMs = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
    } else if (name == "--hold") {
      options->holds.push_back(value);
    } else if (name == "--second-at") {
      options->secondAt = std::atoi(value);
    } else if (name == "--pause-dir") {
      options->pauseDir = value;
    } else if (name == "--ping") {
      options->pingMs = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
    } else if (name == "--ping-mark") {
      options->pingMark = value;
    } else {
      return false;
    }
  }
  if (i >= argc) return false;
  options->program = argv[i++];
  for (; i < argc; ++i) {
    if (AnswerId(argv[i]) == 0) return false;
    options->answers.push_back(argv[i]);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  g_startTick = GetTickCount();
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: watcher.exe [--timeout MS] [--settle MS] [--poll MS] [--hold PATH]... [--second-at N] [--pause-dir DIR] [--observe] [--no-hook] [--ping MS] [--ping-mark PATH] "
                 "PROGRAM.exe [OK|Cancel|Yes|No]...\n");
    return 2;
  }
  return Run(options);
}
