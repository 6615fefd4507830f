#include "ui/progress_view.h"

#include "base/text_format.h"
#include "ui/resource_ids.h"

namespace {

struct ProgressView {
  WindowHandle percentText;
  WindowHandle progressBar;
};

ProgressView g_view;

}  // namespace

void BeginProgressView(WindowHandle dialog) {
  g_view.percentText = PlatformDialogItem(dialog, IDC_PERCENT);
  g_view.progressBar = PlatformDialogItem(dialog, IDC_PROGRESS);
}

void ShowRunProgress(int percent) {
  char text[16];
  FormatText(text, sizeof text, "%3d%%", percent);
  PlatformSetWindowText(g_view.percentText, text);
  PlatformSetProgressPosition(g_view.progressBar, percent);
  PlatformPumpOneMessage();
}
