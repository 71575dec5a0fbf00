#include "chipset_check.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"

namespace {

struct CheckResult {
  ChipsetStatus status;
  std::string output;
};

CheckResult RunCheck() {
  testing::internal::CaptureStdout();
  const ChipsetStatus status = CheckChipset();
  return {status, testing::internal::GetCapturedStdout()};
}

class ChipsetCheckTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }
};

bool Broken(const char16_t* vendor, const char16_t* device) {
  PciIdText vendorId{};
  PciIdText deviceId{};
  for (int i = 0; i < 4 && vendor[i] != u'\0'; ++i) {
    vendorId[i] = vendor[i];
  }
  for (int i = 0; i < 4 && device[i] != u'\0'; ++i) {
    deviceId[i] = device[i];
  }
  return IsBrokenChipset(vendorId, deviceId);
}

TEST(IsBrokenChipsetTest, AllNinePairsAndTheirNearMisses) {
  const char16_t* const pairs[][2] = {
      {u"1039", u"0530"}, {u"1039", u"0620"}, {u"10B9", u"0533"},
      {u"10B9", u"1533"}, {u"1106", u"0596"}, {u"1106", u"0686"},
      {u"1166", u"004F"}, {u"1166", u"0050"}, {u"8086", u"7110"},
  };
  for (const auto& pair : pairs) {
    EXPECT_TRUE(Broken(pair[0], pair[1]));
  }
  EXPECT_FALSE(Broken(u"8086", u"7111"));  // listed vendor, other device
  EXPECT_FALSE(Broken(u"10DE", u"0530"));  // listed device, other vendor
  EXPECT_FALSE(Broken(u"1039", u"0596"));  // parts of two different rows
  EXPECT_FALSE(Broken(u"1166", u"004f"));  // case matters
  EXPECT_FALSE(Broken(u"10b9", u"0533"));
  EXPECT_FALSE(Broken(u"8086", u"711"));  // a shortened ID never matches
  EXPECT_FALSE(Broken(u"", u""));
}

TEST(ToConsoleTextTest, NonPrintableCharactersBecomeOneQuestionMarkEach) {
  char out[32];
  ToConsoleText(u"PCI\\VEN_10DE", out, sizeof out);
  EXPECT_STREQ("PCI\\VEN_10DE", out);
  ToConsoleText(u"a\nb\x1b[2Jc\x7f", out, sizeof out);
  EXPECT_STREQ("a?b?[2Jc?", out);
  ToConsoleText(u"\u00e9t\u00e9", out, sizeof out);
  EXPECT_STREQ("?t?", out);
  ToConsoleText(u"x\U0001F600y", out, sizeof out);  // surrogate pair
  EXPECT_STREQ("x?y", out);
  const char16_t loneHigh[] = {u'x', 0xD83D, u'y', 0};
  ToConsoleText(loneHigh, out, sizeof out);
  EXPECT_STREQ("x?y", out);
  ToConsoleText(u"abcdef", out, 4);  // truncated, still terminated
  EXPECT_STREQ("abc", out);
}

TEST_F(ChipsetCheckTest, OpenFailurePrintsNothingAndClosesNothing) {
  Registry().openFails = true;
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::RegistryError, result.status);
  EXPECT_EQ("", result.output);
  EXPECT_EQ(0U, Registry().enumCalls);
  EXPECT_EQ(0, Registry().closeCount);
}

TEST_F(ChipsetCheckTest, NoSubkeysIsOk) {
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::Ok, result.status);
  EXPECT_EQ("", result.output);
  EXPECT_EQ(1, Registry().closeCount);
}

TEST_F(ChipsetCheckTest, ListsEveryDeviceWithItsVerdict) {
  AddKey(u"VEN_8086&DEV_7110&SUBSYS_00000000&REV_02");
  AddKey(u"VEN_8086&DEV_7111&SUBSYS_00000000&REV_01");
  AddKey(u"VEN_10DE&DEV_0530&SUBSYS_12345678&REV_A1");
  AddKey(u"VEN_1166&DEV_004f&SUBSYS_00000000&REV_00");
  AddKey(u"VEN_1166&DEV_004F&SUBSYS_00000000&REV_00");
  AddKey(u"VEN_1166&DEV_004F&SUBSYS_11112222&REV_93");
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::Broken, result.status);
  EXPECT_EQ(
      "VEN_8086&DEV_7110&SUBSYS_00000000&REV_02   8086:7110   broken\n"
      "VEN_8086&DEV_7111&SUBSYS_00000000&REV_01   8086:7111   ok\n"
      "VEN_10DE&DEV_0530&SUBSYS_12345678&REV_A1   10DE:0530   ok\n"
      "VEN_1166&DEV_004f&SUBSYS_00000000&REV_00   1166:004f   ok\n"
      "VEN_1166&DEV_004F&SUBSYS_00000000&REV_00   1166:004F   broken\n"
      "VEN_1166&DEV_004F&SUBSYS_11112222&REV_93   1166:004F   broken\n",
      result.output);
  EXPECT_EQ(1, Registry().closeCount);
}

TEST_F(ChipsetCheckTest, UnlistedDevicesOnlyAreOk) {
  AddKey(u"VEN_1AF4&DEV_1041&SUBSYS_00011AF4&REV_01");
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::Ok, result.status);
  EXPECT_EQ("VEN_1AF4&DEV_1041&SUBSYS_00011AF4&REV_01   1AF4:1041   ok\n",
            result.output);
}

TEST_F(ChipsetCheckTest, ShortNamesGivePartialOrEmptyIds) {
  AddKey(u"VEN_8086&DEV_711");  // 16 characters: device ID "711"
  AddKey(u"VEN_8086&DEV");      // 12: empty device ID
  AddKey(u"VEN_80");            // 6: vendor "80"
  AddKey(u"");
  AddKey(u"ROOT\\thing");  // not the usual shape at all
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::Ok, result.status);
  EXPECT_EQ(
      "VEN_8086&DEV_711   8086:711   ok\n"
      "VEN_8086&DEV   8086:   ok\n"
      "VEN_80   80:   ok\n"
      "   :   ok\n"
      "ROOT\\thing   \\thi:   ok\n",
      result.output);
}

TEST_F(ChipsetCheckTest, LongestNameIsPrintedWhole) {
  std::u16string longName(u"VEN_8086&DEV_7110&");
  longName.resize(KeyNameCapacity - 1, u'x');
  AddKey(longName.c_str());
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::Broken, result.status);
  EXPECT_EQ(
      std::string(longName.begin(), longName.end()) + "   8086:7110   broken\n",
      result.output);
}

TEST_F(ChipsetCheckTest, NonAsciiNameCannotBreakTheLine) {
  AddKey(u"VEN_8086&DEV_7110&\u00e9\n\x1b");
  const CheckResult result = RunCheck();
  EXPECT_EQ("VEN_8086&DEV_7110&???   8086:7110   broken\n", result.output);
}

TEST_F(ChipsetCheckTest, EnumerationFailureKeepsLinesAndClosesTheKey) {
  AddKey(u"VEN_8086&DEV_7110&SUBSYS_00000000&REV_02");
  AddKey(u"VEN_8086&DEV_7111&SUBSYS_00000000&REV_02");
  Registry().enumFailsAt = 1;
  Registry().closeFails = true;  // ignored: the enumeration's failure counts
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::RegistryError, result.status);
  EXPECT_EQ("VEN_8086&DEV_7110&SUBSYS_00000000&REV_02   8086:7110   broken\n",
            result.output);
  EXPECT_EQ(1, Registry().closeCount);
}

TEST_F(ChipsetCheckTest, NameTooLongForTheBufferIsAFailure) {
  std::u16string tooLong(KeyNameCapacity, u'x');
  AddKey(u"VEN_1039&DEV_0530");
  AddKey(tooLong.c_str());
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::RegistryError, result.status);
  EXPECT_EQ("VEN_1039&DEV_0530   1039:0530   broken\n", result.output);
  EXPECT_EQ(1, Registry().closeCount);
}

TEST_F(ChipsetCheckTest, CloseFailureAfterAListedDeviceIsAFailure) {
  AddKey(u"VEN_1106&DEV_0686&SUBSYS_00000000&REV_40");
  Registry().closeFails = true;
  const CheckResult result = RunCheck();
  EXPECT_EQ(ChipsetStatus::RegistryError, result.status);
  EXPECT_EQ("VEN_1106&DEV_0686&SUBSYS_00000000&REV_40   1106:0686   broken\n",
            result.output);
  EXPECT_EQ(1, Registry().closeCount);
}

TEST_F(ChipsetCheckTest, EnumeratesByIndexWithFullCapacityEveryTime) {
  AddKey(u"VEN_1039&DEV_0620");
  AddKey(u"VEN_10B9&DEV_1533");
  AddKey(u"VEN_1106&DEV_0596");
  RunCheck();
  ASSERT_EQ(4U, Registry().enumCalls);
  for (std::uint32_t call = 0; call < 4; ++call) {
    EXPECT_EQ(call, Registry().indexes[call]);
    EXPECT_EQ(KeyNameCapacity, Registry().capacities[call]);
  }
}

}  // namespace
