#include "tick_line.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "small_file.h"
#include "timer_list.h"

namespace {

// A line being written into a fixed buffer; what does not fit is cut.
struct LineBuffer {
  char* text;
  std::size_t capacity;
  std::size_t used;
};

void Append(LineBuffer& line, const char* text) {
  for (; *text != '\0' && line.used + 1 < line.capacity; ++text) {
    line.text[line.used++] = *text;
  }
  line.text[line.used] = '\0';
}

const char* RefusalText(TimerRefusal refusal) {
  switch (refusal) {
    case TimerRefusal::NeedsRoot:
      return "needs root";
    case TimerRefusal::LockedDown:
      return "the kernel's lockdown forbids it";
    case TimerRefusal::WrongRate:
      return "does not count at its stated rate";
    case TimerRefusal::OutOfOrder:
      return "its reads are out of order";
    case TimerRefusal::NotThisProcessor:
      return "none on this processor";
    case TimerRefusal::WentBack:
      return "went back while the test ran";
    case TimerRefusal::Stopped:
      return "stopped while the test ran";
    case TimerRefusal::LetGo:
      return "let go when the HPET was taken";
    default:
      return "cannot be read";
  }
}

void AppendRefusal(LineBuffer& line, const char* timer, const char* own,
                   TimerRefusal refusal) {
  Append(line, timer);
  Append(line, ": ");
  Append(line, own != nullptr ? own : RefusalText(refusal));
}

// Whether any of the first `count` timers was refused for `refusal`.
bool Any(const TickChoice& choice, std::size_t count, TimerRefusal refusal) {
  for (std::size_t i = 0; i < count; ++i) {
    if (choice.refusals[i] == refusal) {
      return true;
    }
  }
  return false;
}

// What a user can do about the refusals told, by what the process is.
void AppendAdvice(LineBuffer& line, const TickChoice& choice,
                  std::size_t told) {
  if (Any(choice, told, TimerRefusal::NeedsRoot)) {
    Append(line, " (run as root: sudo leapcheck runtest)");
  } else if (Any(choice, told, TimerRefusal::Confined)) {
    Append(line, " (in a container: run it on the host)");
  } else if (Any(choice, told, TimerRefusal::Busy)) {
    Append(line, " (one run at a time: stop the service or the other run)");
  }
}

// Why no timer is the tick count, or why not those before the one that is.
void AppendRefusals(LineBuffer& line, const TickChoice& choice) {
  const std::size_t told = TimerIndexOf(choice.source);  // those before it
  if (told == 0) {
    return;
  }
  Append(line, told < TimerCount ? "; not used: " : "; no timer of its own: ");
  for (std::size_t i = 0; i < told; ++i) {
    const TimerFace& face = TimerFaces[i];
    const TimerRefusal refusal = choice.refusals[i];
    Append(line, i == 0 ? "" : "; ");
    AppendRefusal(line, face.name, face.refusalText(refusal), refusal);
  }
  AppendAdvice(line, choice, told);
}

}  // namespace

bool IsIndependentClocksource(const char* clocksource) {
  return std::strcmp(clocksource, "hpet") == 0 ||
         std::strcmp(clocksource, "acpi_pm") == 0;
}

void ReadClocksource(const char* path, char (&name)[ClocksourceNameCapacity]) {
  int error = 0;
  const std::size_t length =
      ReadSmallFile(path, name, ClocksourceNameCapacity - 1, error);
  name[length] = '\0';
  name[std::strcspn(name, "\n")] = '\0';
}

void FormatTickLine(const TickChoice& choice, char* line,
                    std::size_t capacity) {
  if (capacity == 0) {
    return;
  }
  LineBuffer text{};
  text.text = line;  // written through, which the checker does not see
  text.capacity = capacity;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%" PRIu64, choice.hertz);
  Append(text, "leapcheck: tick count: ");
  const std::size_t taken = TimerIndexOf(choice.source);
  const bool ownTimer = taken < TimerCount;
  if (ownTimer) {
    Append(text, TimerFaces[taken].name);
    Append(text, ", ");
  } else {
    Append(text, "kernel clock (clocksource ");
    Append(text,
           choice.clocksource[0] != '\0' ? choice.clocksource : "unknown");
    Append(text, "), ");
  }
  Append(text, rate);
  const bool independent =
      ownTimer || IsIndependentClocksource(choice.clocksource);
  Append(text, independent ? " Hz, independent of the counter"
                           : " Hz, follows the counter: a leap of the whole "
                             "counter moves it too and cannot show");
  AppendRefusals(text, choice);
}
