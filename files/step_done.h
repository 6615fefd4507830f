#pragma once
// Told after each piece of work that can take long (a piece read or
// written, a slice of a flush, a rename): the run's window lets one pending
// message through there, so that it never stops answering while the run
// works. Without a function (before the window exists) it does nothing.
struct StepDone {
  void (*tell)(void* context);
  void* context;
};

inline void TellStepDone(const StepDone& step) {
  if (step.tell != nullptr) step.tell(step.context);
}
