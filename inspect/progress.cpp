#include "inspect/progress.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <utility>

namespace progress {

std::string FormatLine(const std::string& prefix, size_t done, size_t total) {
  return prefix + ": " + std::to_string(done) + "/" + std::to_string(total);
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

Line::Line(std::string prefix, bool enabled)
    : prefix_(std::move(prefix)), out_(enabled && StderrIsTerminal() ? stderr : nullptr) {}

Line::Line(std::string prefix, std::FILE* out, Timing timing)
    : prefix_(std::move(prefix)), out_(out), timing_(timing) {}

Line::~Line() { Finish(); }

void Line::Update(size_t done, size_t total) {
  if (out_ == nullptr || ended_) return;
  const Clock::time_point now = Clock::now();
  const bool finished = done >= total;
  if (!started_ && now - start_ < timing_.delay) return;
  if (!finished && shown_ && now - last_ < timing_.interval) return;
  last_ = now;
  started_ = true;
  const std::string text = FormatLine(prefix_, done, total);
  // Spaces cover what is left of a longer line before (a total that shrank
  // is not expected, but a stale digit would mislead).
  const std::string pad(width_ > text.size() ? width_ - text.size() : 0, ' ');
  std::fprintf(out_, "\r%s%s%s", text.c_str(), pad.c_str(), finished ? "\n" : "");
  std::fflush(out_);
  shown_ = !finished;
  ended_ = finished;
  width_ = finished ? 0 : text.size();
}

void Line::Clear() {
  if (out_ == nullptr || !shown_) return;
  std::fprintf(out_, "\r%s\r", std::string(width_, ' ').c_str());
  std::fflush(out_);
  shown_ = false;
  width_ = 0;
}

void Line::Finish() {
  if (out_ == nullptr || !shown_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  shown_ = false;
  width_ = 0;
}

std::function<void(size_t done, size_t total)> Line::Callback() {
  if (out_ == nullptr) return nullptr;
  return [this](size_t done, size_t total) { Update(done, total); };
}

}  // namespace progress
