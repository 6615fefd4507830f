// The simulated windows: one dialog at a time, its controls, and the
// messages queued for it. What the program shows is recorded, not drawn.
#include <deque>
#include <map>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"
#include "platform/win_values.h"

using sim::core::Event;
using sim::core::Trace;

namespace {

struct Windows {
  bool failDialog = false;
  std::function<void()> pumpHook;
  std::function<void()> destroyHook;
  std::deque<unsigned> dialogQueue;
  DialogProcedure procedure = nullptr;
  sim::DialogRecord dialog;
  bool loopWouldHang = false;
  bool quitPosted = false;
};

Windows& W() {
  static Windows windows;
  return windows;
}

void ResetWindows() { W() = Windows(); }
const sim::core::PartReset kWindowsReset(ResetWindows);

char DialogTag;

bool DialogAlive(WindowHandle window) {
  return window == sim::DialogWindow() && W().dialog.created && !W().dialog.destroyed;
}

// Each control of the dialog has a handle of its own: the address of its
// entry here, which stays put for the life of the program.
std::map<int, char>& ControlTags() {
  static std::map<int, char> tags;
  return tags;
}

// The control a handle stands for, while the dialog lives; -1 for others.
int LiveControlId(WindowHandle window) {
  if (!DialogAlive(sim::DialogWindow())) return -1;
  for (auto& [id, tag] : ControlTags()) {
    if (reinterpret_cast<WindowHandle>(&tag) == window) return id;
  }
  return -1;
}

void Deliver(unsigned message) {
  if (DialogAlive(sim::DialogWindow())) W().procedure(sim::DialogWindow(), message, 0, 0);
}

}  // namespace

namespace sim {

void FailDialogCreation() { W().failDialog = true; }
void OnPump(std::function<void()> hook) { W().pumpHook = std::move(hook); }
void OnDestroyWindow(std::function<void()> hook) { W().destroyHook = std::move(hook); }
void PostToDialog(unsigned message) { W().dialogQueue.push_back(message); }
WindowHandle DialogWindow() { return reinterpret_cast<WindowHandle>(&DialogTag); }

const DialogRecord& Dialog() { return W().dialog; }
bool LoopWouldHang() { return W().loopWouldHang; }
bool QuitPosted() { return W().quitPosted; }

}  // namespace sim

WindowHandle PlatformCreateDialog(ModuleHandle, int templateId, DialogProcedure procedure) {
  if (W().failDialog) return nullptr;
  W().dialog = sim::DialogRecord();
  W().dialog.created = true;
  W().dialog.templateId = templateId;
  W().procedure = procedure;
  procedure(sim::DialogWindow(), WM_INITDIALOG, 0, 0);
  return sim::DialogWindow();
}

void PlatformShowWindow(WindowHandle window, int showCommand) {
  if (DialogAlive(window)) W().dialog.visible = showCommand != 0;
}

void PlatformUpdateWindow(WindowHandle) {}

intptr_t PlatformSendMessage(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (!DialogAlive(window)) return 0;
  return W().procedure(window, message, wParam, lParam);
}

void PlatformDestroyWindow(WindowHandle window) {
  if (!DialogAlive(window)) return;
  Event("destroy");
  if (W().destroyHook) W().destroyHook();
  W().procedure(window, WM_DESTROY, 0, 0);
  W().dialog.destroyed = true;
  W().dialog.visible = false;
}

void PlatformPostQuitMessage(int) {
  W().quitPosted = true;
  Event("quit");
}

void PlatformRunMessageLoop(WindowHandle) {
  while (!W().quitPosted) {
    if (W().dialogQueue.empty()) {
      // A real loop would wait forever here.
      W().loopWouldHang = true;
      return;
    }
    unsigned message = W().dialogQueue.front();
    W().dialogQueue.pop_front();
    Deliver(message);
  }
}

void PlatformPumpOneMessage() {
  Trace("pump");
  Event("pump", false);
  if (W().pumpHook) W().pumpHook();
  if (W().dialogQueue.empty()) return;
  unsigned message = W().dialogQueue.front();
  W().dialogQueue.pop_front();
  Deliver(message);
}

WindowHandle PlatformDialogItem(WindowHandle dialog, int controlId) {
  if (!DialogAlive(dialog)) return nullptr;
  return reinterpret_cast<WindowHandle>(&ControlTags()[controlId]);
}

void PlatformSetWindowText(WindowHandle window, const char16_t* text) {
  if (DialogAlive(window)) {
    W().dialog.title16 = text;
    W().dialog.title = sim::To932(text);
    return;
  }
  int id = LiveControlId(window);
  if (id >= 0) {
    W().dialog.itemTexts[id].push_back(sim::To932(text));
    Trace("text " + std::to_string(id) + " " + W().dialog.itemTexts[id].back());
  }
}

void PlatformSetProgressPosition(WindowHandle progressBar, int position) {
  int id = LiveControlId(progressBar);
  if (id >= 0) {
    W().dialog.positions[id].push_back(position);
    Trace("position " + std::to_string(id) + " " + std::to_string(position));
  }
}

void PlatformSetSmallIcon(WindowHandle, ModuleHandle, int) {}  // the updater carries no icon

void PlatformRemoveCloseMenuItem(WindowHandle window) {
  if (DialogAlive(window)) W().dialog.closeMenuRemoved = true;
}
