#pragma once
// The simulated file views: the file's bytes as they were when it was
// mapped, and a count of the views the program holds.
namespace sim {

int LiveFileViews();

}  // namespace sim
