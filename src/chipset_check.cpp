#include "chipset_check.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "platform.h"

namespace {

constexpr std::size_t VendorIdPosition = 4;   // VEN_vvvv
constexpr std::size_t DeviceIdPosition = 13;  // VEN_vvvv&DEV_dddd
constexpr std::size_t PciIdLength = PciIdTextSize - 1;

struct KnownChipset {
  PciIdText vendorId;
  PciIdText deviceId;
};

// Chipsets on which the performance counter is known to leap.
constexpr KnownChipset KnownBrokenChipsets[] = {
    {u"1039", u"0530"}, {u"1039", u"0620"}, {u"10B9", u"0533"},
    {u"10B9", u"1533"}, {u"1106", u"0596"}, {u"1106", u"0686"},
    {u"1166", u"004F"}, {u"1166", u"0050"}, {u"8086", u"7110"},
};

// Whole, case-sensitive comparison of two NUL-terminated IDs.
bool SamePciId(const PciIdText& left, const PciIdText& right) {
  for (std::size_t i = 0; i < PciIdTextSize; ++i) {
    if (left[i] != right[i]) {
      return false;
    }
    if (left[i] == u'\0') {
      return true;
    }
  }
  return true;
}

bool IsSurrogatePair(char16_t high, char16_t low) {
  return high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF;
}

// Copies the ID at `first` .. `first + 3` of `keyName` into `id`, stopping
// early where the name ends.
void ExtractPciId(const char16_t (&keyName)[KeyNameCapacity], std::size_t first,
                  PciIdText& id) {
  std::size_t length = 0;
  // A short name ends in NULs (the buffer is cleared before every read), so
  // the ID simply stops there.
  while (length < PciIdLength && first + length < KeyNameCapacity &&
         keyName[first + length] != u'\0') {
    id[length] = keyName[first + length];
    ++length;
  }
  for (; length < PciIdTextSize; ++length) {
    id[length] = u'\0';
  }
}

}  // namespace

bool IsBrokenChipset(const PciIdText& vendorId, const PciIdText& deviceId) {
  return std::any_of(std::begin(KnownBrokenChipsets),
                     std::end(KnownBrokenChipsets),
                     [&](const KnownChipset& known) {
                       return SamePciId(known.vendorId, vendorId) &&
                              SamePciId(known.deviceId, deviceId);
                     });
}

void ToConsoleText(const char16_t* text, char* out, std::size_t outSize) {
  if (outSize == 0) {
    return;
  }
  std::size_t written = 0;
  for (std::size_t i = 0; text[i] != u'\0' && written + 1 < outSize; ++i) {
    const char16_t c = text[i];
    if (c >= 0x20 && c <= 0x7E) {
      out[written++] = static_cast<char>(c);
      continue;
    }
    if (IsSurrogatePair(c, text[i + 1])) {
      ++i;  // one character, one '?'
    }
    out[written++] = '?';
  }
  out[written] = '\0';
}

namespace {

// One device key's line: its name, vendor and device IDs, and verdict.
// Returns whether it is a listed chipset.
bool PrintDeviceLine(const char16_t (&keyName)[KeyNameCapacity]) {
  PciIdText vendorId;
  PciIdText deviceId;
  ExtractPciId(keyName, VendorIdPosition, vendorId);
  ExtractPciId(keyName, DeviceIdPosition, deviceId);
  char nameText[KeyNameCapacity];
  char vendorText[PciIdTextSize];
  char deviceText[PciIdTextSize];
  ToConsoleText(keyName, nameText, sizeof nameText);
  ToConsoleText(vendorId, vendorText, sizeof vendorText);
  ToConsoleText(deviceId, deviceText, sizeof deviceText);
  const bool broken = IsBrokenChipset(vendorId, deviceId);
  std::printf("%s   %s:%s   %s\n", nameText, vendorText, deviceText,
              broken ? "broken" : "ok");
  return broken;
}

}  // namespace

ChipsetStatus CheckChipset() {
  PciKeySource source;
  if (!OpenPciKeys(source)) {
    return ChipsetStatus::RegistryError;
  }
  bool brokenSeen = false;
  for (std::uint32_t index = 0;; ++index) {
    char16_t keyName[KeyNameCapacity] = {};
    const PciKeyResult result =
        EnumPciKey(source, index, keyName, KeyNameCapacity);
    if (result == PciKeyResult::NoMoreItems) {
      break;
    }
    if (result != PciKeyResult::Found) {
      ClosePciKeys(source);  // the enumeration's failure is what counts
      return ChipsetStatus::RegistryError;
    }
    keyName[KeyNameCapacity - 1] = u'\0';
    if (PrintDeviceLine(keyName)) {
      brokenSeen = true;
    }
  }
  if (!ClosePciKeys(source)) {
    return ChipsetStatus::RegistryError;
  }
  return brokenSeen ? ChipsetStatus::Broken : ChipsetStatus::Ok;
}
