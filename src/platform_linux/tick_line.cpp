#include "tick_line.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "small_file.h"

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

const char* HpetRefusalText(TimerRefusal refusal) {
  switch (refusal) {
    case TimerRefusal::Missing:
      return "none";
    case TimerRefusal::NoDriver:
      return "no /dev/hpet (no driver, or a container)";
    case TimerRefusal::Confined:
      return "root may not open /dev/hpet here";
    case TimerRefusal::Busy:
      return "in use by another run";
    case TimerRefusal::MappingOff:
      return "the kernel lets no program map it (boot with hpet_mmap=1)";
    case TimerRefusal::MappingUnsupported:
      return "this kernel maps it for no program";
    default:
      return nullptr;
  }
}

const char* PmTimerRefusalText(TimerRefusal refusal) {
  switch (refusal) {
    case TimerRefusal::Missing:
      return "none found";
    case TimerRefusal::Confined:
      return "root without CAP_SYS_RAWIO";
    case TimerRefusal::HardwareReduced:
      return "none (hardware-reduced ACPI)";
    case TimerRefusal::MemorySpace:
      return "in memory space, which is not read";
    default:
      return nullptr;
  }
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

bool Either(const TickChoice& choice, TimerRefusal refusal) {
  return choice.hpet == refusal || choice.pmTimer == refusal;
}

// What a user can do about the refusals, by what the process is.
void AppendAdvice(LineBuffer& line, const TickChoice& choice) {
  if (Either(choice, TimerRefusal::NeedsRoot)) {
    Append(line, " (run as root: sudo leapcheck runtest)");
  } else if (Either(choice, TimerRefusal::Confined)) {
    Append(line, " (in a container: run it on the host)");
  } else if (choice.hpet == TimerRefusal::Busy) {
    Append(line, " (one run at a time: stop the service or the other run)");
  }
}

// Why neither timer is the tick count, or why the HPET is not where the PM
// timer is.
void AppendRefusals(LineBuffer& line, const TickChoice& choice) {
  if (choice.source == TickSource::PmTimer) {
    Append(line, "; not used: ");
    AppendRefusal(line, "HPET", HpetRefusalText(choice.hpet), choice.hpet);
  } else {
    Append(line, "; no timer of its own: ");
    AppendRefusal(line, "HPET", HpetRefusalText(choice.hpet), choice.hpet);
    Append(line, "; ");
    AppendRefusal(line, "ACPI PM timer", PmTimerRefusalText(choice.pmTimer),
                  choice.pmTimer);
  }
  AppendAdvice(line, choice);
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
  if (choice.source == TickSource::Hpet) {
    Append(text, "HPET, ");
  } else if (choice.source == TickSource::PmTimer) {
    Append(text, "ACPI PM timer, ");
  } else {
    Append(text, "kernel clock (clocksource ");
    Append(text,
           choice.clocksource[0] != '\0' ? choice.clocksource : "unknown");
    Append(text, "), ");
  }
  Append(text, rate);
  const bool ownTimer =
      choice.source == TickSource::Hpet || choice.source == TickSource::PmTimer;
  const bool independent =
      ownTimer || IsIndependentClocksource(choice.clocksource);
  Append(text, independent ? " Hz, independent of the counter"
                           : " Hz, follows the counter: a leap of the whole "
                             "counter moves it too and cannot show");
  if (choice.source != TickSource::Hpet) {
    AppendRefusals(text, choice);
  }
}
