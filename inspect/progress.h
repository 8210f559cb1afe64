// A count of work done over the total on stderr, for the tools' long steps
// (varndel-opt's meshes, levels and key reduction, varndel-inspect's render
// and report): "varndel-opt: optimising meshes: 3/12", drawn over itself
// with a carriage return. Shown only when stderr is a terminal and the step
// has run past a delay, so pipes, logs and tests never see it. Standard
// library only: both tools link it without linking each other.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace progress {

// "<prefix>: <done>/<total>".
std::string FormatLine(const std::string& prefix, size_t done, size_t total);

bool StderrIsTerminal();

struct Timing {
  std::chrono::milliseconds delay{1000};    // nothing is shown before the step has run this long
  std::chrono::milliseconds interval{200};  // at most one redraw in this time, but for the last count
};

// One step's progress line. Not thread-safe: callers on several threads
// hold their own lock around it.
class Line {
 public:
  // On stderr, when enabled (false for --quiet) and stderr is a terminal.
  Line(std::string prefix, bool enabled);
  // On out whatever it is, with the given timing (for tests).
  Line(std::string prefix, std::FILE* out, Timing timing);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  bool Active() const { return out_ != nullptr; }
  // Redraws the line with done/total. done >= total draws the last count
  // with a line break, after which the line shows nothing more; a step that
  // ends before the delay shows nothing.
  void Update(size_t done, size_t total);
  // Wipes a shown line before other output on the same stream; the next
  // Update draws it again.
  void Clear();
  // Ends a shown line with a line break (a step stopped short of its total).
  void Finish();
  // Update as a callback (OptimizeOptions' progress); empty when inactive.
  // The line must outlive it.
  std::function<void(size_t done, size_t total)> Callback();

 private:
  using Clock = std::chrono::steady_clock;
  std::string prefix_;
  std::FILE* out_ = nullptr;
  Timing timing_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_{};
  bool shown_ = false;   // a line is on the stream without its line break
  bool started_ = false; // the delay has passed and something was drawn
  bool ended_ = false;    // the last count is drawn
  size_t width_ = 0;     // characters of the line on the stream
};

}  // namespace progress
