// Feeds arbitrary device key names and enumeration results through the fake
// platform into the chipset check, and holds every line it prints and the
// status it returns against what the names call for.
//
// Input: byte 0 holds the failures (bit 0: open, bit 1: close, bit 2: the
// enumeration at the index in byte 1); then names, each a 16-bit
// little-endian length (taken modulo 301) and that many UTF-16 units.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chipset_check.h"
#include "fake_platform.h"

namespace {

constexpr std::size_t MaxNameLength = 300;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "chipset check fuzz: %s: [%s]\n", what, detail.c_str());
  std::abort();
}

bool IsListed(const std::u16string& vendor, const std::u16string& device) {
  static const char16_t* const listed[][2] = {
      {u"1039", u"0530"}, {u"1039", u"0620"}, {u"10B9", u"0533"},
      {u"10B9", u"1533"}, {u"1106", u"0596"}, {u"1106", u"0686"},
      {u"1166", u"004F"}, {u"1166", u"0050"}, {u"8086", u"7110"}};
  for (const auto& pair : listed) {
    if (vendor == pair[0] && device == pair[1]) {
      return true;
    }
  }
  return false;
}

// What the console shows of a UTF-16 text: printable ASCII as it is,
// anything else (a surrogate pair counting as one character) as '?'.
std::string ConsoleText(const std::u16string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0x20 && c <= 0x7E) {
      shown += static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    }
    shown += '?';
  }
  return shown;
}

std::u16string Slice(const std::u16string& name, std::size_t first) {
  return first < name.size() ? name.substr(first, 4) : std::u16string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const bool openFails = (data[0] & 1) != 0;
  const bool closeFails = (data[0] & 2) != 0;
  const int enumFailsAt = (data[0] & 4) != 0 ? data[1] : -1;

  // The names as stored, and as the enumeration hands them out: up to the
  // first NUL.
  std::vector<std::u16string> names;
  std::size_t at = 2;
  while (at + 2 <= size && names.size() < FakeMaxKeys) {
    const std::size_t length = (static_cast<std::size_t>(data[at]) |
                                (std::size_t{data[at + 1]} << 8)) %
                               (MaxNameLength + 1);
    at += 2;
    std::u16string name;
    for (std::size_t i = 0; i < length && at + 2 <= size; ++i, at += 2) {
      name += static_cast<char16_t>(data[at] | (data[at + 1] << 8));
    }
    names.push_back(name);
  }

  ResetFakePlatform();
  Registry().openFails = openFails;
  Registry().closeFails = closeFails;
  Registry().enumFailsAt = enumFailsAt;
  for (const std::u16string& name : names) {
    AddKey(name.c_str());
  }

  char* printed = nullptr;
  std::size_t printedSize = 0;
  FILE* capture = open_memstream(&printed, &printedSize);
  FILE* const console = stdout;
  stdout = capture;
  const ChipsetStatus status = CheckChipset();
  stdout = console;
  std::fclose(capture);
  const std::string output(printed, printedSize);
  std::free(printed);

  // The lines and the status the names call for.
  std::string expected;
  ChipsetStatus expectedStatus = ChipsetStatus::Ok;
  if (openFails) {
    expectedStatus = ChipsetStatus::RegistryError;
  } else {
    bool broken = false;
    bool failed = false;
    for (std::size_t index = 0;; ++index) {
      if (static_cast<int>(index) == enumFailsAt) {
        failed = true;
        break;
      }
      if (index >= names.size()) {
        break;
      }
      const std::u16string name =
          names[index].substr(0, names[index].find(u'\0'));
      if (name.size() >= KeyNameCapacity) {
        failed = true;  // does not fit the key-name buffer
        break;
      }
      const std::u16string vendor = Slice(name, 4);
      const std::u16string device = Slice(name, 13);
      const bool listed = IsListed(vendor, device);
      broken = broken || listed;
      expected += ConsoleText(name) + "   " + ConsoleText(vendor) + ":" +
                  ConsoleText(device) + "   " + (listed ? "broken\n" : "ok\n");
    }
    if (failed || closeFails) {
      expectedStatus = ChipsetStatus::RegistryError;
    } else if (broken) {
      expectedStatus = ChipsetStatus::Broken;
    }
  }

  // Each line on its own: printable ASCII, a verdict, a newline.
  std::size_t lineStart = 0;
  while (lineStart < output.size()) {
    const std::size_t end = output.find('\n', lineStart);
    if (end == std::string::npos) {
      Fail("unterminated line", output.substr(lineStart));
    }
    const std::string line = output.substr(lineStart, end - lineStart);
    for (const char c : line) {
      if (c < 0x20 || c > 0x7E) {
        Fail("unprintable character", line);
      }
    }
    const bool ok =
        line.size() >= 2 && line.compare(line.size() - 2, 2, "ok") == 0;
    const bool broken =
        line.size() >= 6 && line.compare(line.size() - 6, 6, "broken") == 0;
    if (!ok && !broken) {
      Fail("no verdict", line);
    }
    lineStart = end + 1;
  }
  if (output != expected) {
    Fail("lines differ from the names", output + "] expected [" + expected);
  }
  if (status != expectedStatus) {
    Fail("status", std::to_string(static_cast<int>(status)) + " for " +
                       std::to_string(static_cast<int>(expectedStatus)));
  }
  if (!openFails && Registry().openCount != Registry().closeCount) {
    Fail("key left open", "");
  }
  return 0;
}
