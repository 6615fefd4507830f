#include "ui/progress_view.h"

#include "base/text_format.h"
#include "core/screen_text.h"
#include "install/run/run_progress.h"
#include "ui/resource_ids.h"

namespace {

// What the two controls show now. Under Wine every call to a control is a
// round trip to the window server, dearer than writing the piece itself, so
// a value already on screen is not set again.
struct ProgressView {
  WindowHandle percentText;
  WindowHandle progressBar;
  int textShows;  // -1 while the text is still empty
  int barShows;
};

ProgressView g_view;

}  // namespace

void BeginProgressView(WindowHandle dialog) {
  g_view.percentText = PlatformDialogItem(dialog, IDC_PERCENT);
  g_view.progressBar = PlatformDialogItem(dialog, IDC_PROGRESS);
  g_view.textShows = -1;
  g_view.barShows = 0;  // the dialog starts the bar at 0
}

void ShowRunProgress(int percent) {
  // Before the first byte is written the text stays empty and the bar at 0.
  const bool nothingYet = percent == kNothingWritten;
  if (!nothingYet && percent != g_view.textShows) {
    char text[16];
    FormatText(text, sizeof text, "%3d%%", percent);
    SetScreenText(g_view.percentText, text);
    g_view.textShows = percent;
  }
  if (!nothingYet && percent != g_view.barShows) {
    PlatformSetProgressPosition(g_view.progressBar, percent);
    g_view.barShows = percent;
  }
  PlatformPumpOneMessage();
}

void LetMessageThrough(void*) { ShowRunProgress(kNothingWritten); }
