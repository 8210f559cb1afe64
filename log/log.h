// printf-like logger: every message goes to Logs/Log.txt first, then to the
// console, behind a coloured level tag.
#pragma once

#include <sstream>
#include <stdexcept>
#include <string>

inline constexpr const char* kInfoTag = "\033[32m[Info]\033[0m ";
inline constexpr const char* kErrorTag = "\033[31m[Error]\033[0m ";

// The message being built; empty between messages.
extern std::ostringstream messageStream;

// Appends messageStream to Logs/Log.txt, opening (and truncating) the file
// at the first message that reaches it. Throws filesystem_error when the Logs
// directory cannot be created.
void WriteLogFile();
// Echoes messageStream on the console and empties it.
void FlushMessage();
// Closes Logs/Log.txt and drops any half-built message, so that the next
// message opens (and truncates) the log of the working directory afresh: one
// process may then run the compiler more than once.
void ResetLog();

// No arguments left: the rest is copied verbatim, '%' included.
inline void ExpandFormat(const char* text) {
  messageStream << text;
  WriteLogFile();
}

// Each '%' takes the next argument and swallows the character after it
// without interpreting it; "%%" prints as two percent signs and takes none.
// A '%' at the very end takes the argument and skips nothing, so the walk
// never reads past the terminating NUL.
template <typename Arg, typename... Rest>
void ExpandFormat(const char* text, const Arg& arg, const Rest&... rest) {
  const char* run = text;  // plain characters not yet appended
  const char* p = text;
  for (;; ++p) {
    if (*p == '\0') {
      messageStream.write(run, p - run);
      throw std::logic_error("Extra arguments provided!");
    }
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;  // the pair is copied with the run
      continue;
    }
    break;
  }
  messageStream.write(run, p - run);
  messageStream << arg;
  ExpandFormat(p[1] == '\0' ? p + 1 : p + 2, rest...);
}

template <typename... Args>
void LogInfo(const char* format, const Args&... args) {
  const std::string text = std::string(kInfoTag) + format;
  ExpandFormat(text.c_str(), args...);
  FlushMessage();
}

template <typename... Args>
void LogError(const char* format, const Args&... args) {
  const std::string text = std::string(kErrorTag) + format;
  ExpandFormat(text.c_str(), args...);
  FlushMessage();
}
