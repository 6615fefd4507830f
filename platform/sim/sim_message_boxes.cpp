// The simulated message boxes: each takes the next answer the test queued,
// and is recorded with the texts it showed.
#include <deque>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"
#include "platform/win_values.h"

namespace {

struct Boxes {
  std::deque<int> answers;
  std::vector<sim::MessageBoxRecord> boxes;
  int unanswered = 0;
  std::function<void()> boxHook;
};

Boxes& B() {
  static Boxes boxes;
  return boxes;
}

void ResetBoxes() { B() = Boxes(); }
const sim::core::PartReset kBoxesReset(ResetBoxes);

}  // namespace

namespace sim {

void QueueAnswers(const std::vector<int>& answers) { B().answers.insert(B().answers.end(), answers.begin(), answers.end()); }
const std::vector<MessageBoxRecord>& MessageBoxes() { return B().boxes; }
int UnansweredBoxes() { return B().unanswered; }
void OnMessageBox(std::function<void()> hook) { B().boxHook = std::move(hook); }

}  // namespace sim

int PlatformMessageBox(WindowHandle owner, const char16_t* text, const char16_t* caption, unsigned style) {
  if (B().boxHook) B().boxHook();
  int answer = IDOK;
  if (!B().answers.empty()) {
    answer = B().answers.front();
    B().answers.pop_front();
  } else if ((style & 0x0F) != MB_OK) {
    ++B().unanswered;
    answer = (style & 0x0F) == MB_YESNO ? IDNO : IDCANCEL;
  }
  B().boxes.push_back({sim::To932(text), sim::To932(caption), text, caption, style, owner, answer});
  // The box's own trace line below names it with its text and answer.
  sim::core::Event("box:" + B().boxes.back().caption, false);
  sim::core::Trace("box " + B().boxes.back().caption + " | " + B().boxes.back().text + " -> " +
                   std::to_string(answer));
  return answer;
}
