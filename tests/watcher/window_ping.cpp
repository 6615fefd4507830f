#include "tests/watcher/window_ping.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// How many of the slowest replies are kept.
constexpr std::size_t kSlowestKept = 5;
// A window that has not answered for this long is reported as not answering.
constexpr UINT kReplyTimeoutMs = 120000;

struct Reply {
  double sentMs;  // since the ping started
  double waitMs;
  std::string percentBefore;
  std::string percentAfter;
  bool markBefore;
  bool markAfter;
  bool answered;  // false: the window was gone (or the time ran out) before it answered
};

double Now(const LARGE_INTEGER& frequency) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string TextOf(HWND control) {
  char text[64];
  int length = control != nullptr ? GetWindowTextA(control, text, sizeof text) : 0;
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool Exists(const std::string& path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Only ASCII reaches here (the percentage, "%3d%%").
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') out += c;
  }
  return out + "\"";
}

}  // namespace

struct WindowPing {
  HWND window;
  HWND percent;
  DWORD everyMs;
  std::string markPath;
  HANDLE thread;
  LARGE_INTEGER frequency;
  double startedMs;  // the performance counter when the ping started
  DWORD startedTick;  // the watcher's clock then
  double lastMs;     // when the last reply came, since the start
  long replies;
  std::vector<Reply> slowest;
};

namespace {

void Keep(WindowPing* ping, const Reply& reply) {
  ping->slowest.push_back(reply);
  std::sort(ping->slowest.begin(), ping->slowest.end(),
            [](const Reply& a, const Reply& b) { return a.waitMs > b.waitMs; });
  if (ping->slowest.size() > kSlowestKept) ping->slowest.pop_back();
}

DWORD WINAPI PingLoop(void* parameter) {
  auto* ping = static_cast<WindowPing*>(parameter);
  for (;;) {
    Reply reply{};
    reply.percentBefore = TextOf(ping->percent);
    reply.markBefore = Exists(ping->markPath);
    const double sent = Now(ping->frequency);
    DWORD_PTR result = 0;
    reply.answered =
        SendMessageTimeoutA(ping->window, WM_NULL, 0, 0, SMTO_NORMAL, kReplyTimeoutMs, &result) != 0;
    const double came = Now(ping->frequency);
    reply.sentMs = sent - ping->startedMs;
    reply.waitMs = came - sent;
    reply.percentAfter = TextOf(ping->percent);
    reply.markAfter = Exists(ping->markPath);
    ping->lastMs = came - ping->startedMs;
    ++ping->replies;
    Keep(ping, reply);
    if (!reply.answered || !IsWindow(ping->window)) return 0;
    Sleep(ping->everyMs);
  }
}

}  // namespace

WindowPing* StartWindowPing(HWND window, int percentControlId, DWORD everyMs, const std::string& markPath,
                            DWORD startTick) {
  auto* ping = new WindowPing{};
  ping->startedTick = GetTickCount() - startTick;
  ping->window = window;
  ping->percent = GetDlgItem(window, percentControlId);
  ping->everyMs = everyMs;
  ping->markPath = markPath;
  QueryPerformanceFrequency(&ping->frequency);
  ping->startedMs = Now(ping->frequency);
  ping->thread = CreateThread(nullptr, 0, PingLoop, ping, 0, nullptr);
  return ping;
}

std::string FinishWindowPing(WindowPing* ping) {
  std::string fields;
  if (ping->thread == nullptr) {
    fields = "\"error\":" + std::to_string(GetLastError());
    delete ping;
    return fields;
  }
  WaitForSingleObject(ping->thread, INFINITE);
  CloseHandle(ping->thread);
  char number[64];
  fields += "\"replies\":" + std::to_string(ping->replies) + ",\"started_ms\":" + std::to_string(ping->startedTick);
  std::snprintf(number, sizeof number, "%.1f", ping->lastMs);
  fields += ",\"last_reply_ms\":" + std::string(number) + ",\"slowest\":[";
  for (std::size_t i = 0; i < ping->slowest.size(); ++i) {
    const Reply& r = ping->slowest[i];
    char times[96];
    std::snprintf(times, sizeof times, "{\"sent_ms\":%.1f,\"wait_ms\":%.2f", r.sentMs, r.waitMs);
    fields += (i > 0 ? "," : "") + std::string(times) + ",\"percent_before\":" + Quoted(r.percentBefore) +
              ",\"percent_after\":" + Quoted(r.percentAfter) + ",\"mark_before\":" +
              (r.markBefore ? "true" : "false") + ",\"mark_after\":" + (r.markAfter ? "true" : "false") +
              ",\"answered\":" + (r.answered ? "true" : "false") + "}";
  }
  delete ping;
  return fields + "]";
}
