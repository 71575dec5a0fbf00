#include "pci_sysfs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef LEAPCHECK_TEST_DATA
#error "the build names the test data folder"
#endif

namespace {

// Lays out a recorded device list as the kernel's device folder would show
// it, one folder per slot with its ID attributes.
class SysfsTree {
 public:
  SysfsTree() {
    char pattern[] = "/tmp/leapcheck-sysfs-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~SysfsTree() { std::filesystem::remove_all(root_); }
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  const std::string& root() const { return root_; }

  void Replay(const std::string& recording) {
    std::ifstream in(std::string(LEAPCHECK_TEST_DATA) + "/" + recording);
    ASSERT_TRUE(in) << recording;
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') {
        continue;
      }
      std::istringstream fields(line);
      std::string slot;
      std::string vendor;
      std::string device;
      std::string subVendor;
      std::string subDevice;
      std::string revision;
      fields >> slot >> vendor >> device >> subVendor >> subDevice >> revision;
      AddDevice(slot, {{"vendor", vendor},
                       {"device", device},
                       {"subsystem_vendor", subVendor},
                       {"subsystem_device", subDevice},
                       {"revision", revision}});
    }
  }

  void AddDevice(
      const std::string& slot,
      const std::vector<std::pair<std::string, std::string>>& attributes) {
    const std::string dir = root_ + "/" + slot;
    mkdir(dir.c_str(), 0755);
    for (const auto& attribute : attributes) {
      std::ofstream(dir + "/" + attribute.first) << attribute.second << "\n";
    }
  }

 private:
  std::string root_;
};

std::vector<std::string> Names(const PciKeyList& list) {
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < list.count; ++i) {
    char16_t name[64];
    EXPECT_TRUE(FormatPciKeyName(list.ids[i], name, 64));
    names.emplace_back(name, name + std::char_traits<char16_t>::length(name));
  }
  return names;
}

TEST(PciSysfsTest, RecordedBoardGivesSortedDistinctKeys) {
  SysfsTree tree;
  tree.Replay("pci-older-board.txt");
  static PciKeyList list;
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  EXPECT_FALSE(list.incomplete);
  const std::vector<std::string> expected = {
      "VEN_10B7&DEV_9200&SUBSYS_100010B7&REV_78",
      "VEN_1166&DEV_004F&SUBSYS_004F1166&REV_00",
      "VEN_8086&DEV_7110&SUBSYS_00000000&REV_02",
      "VEN_8086&DEV_7111&SUBSYS_00000000&REV_01",
      "VEN_8086&DEV_7113&SUBSYS_00000000&REV_02",
      "VEN_8086&DEV_7190&SUBSYS_00000000&REV_03",
  };
  EXPECT_EQ(expected, Names(list));
}

TEST(PciSysfsTest, RecordedVirtualMachineKeysAreWellFormed) {
  SysfsTree tree;
  tree.Replay("pci-virtual-machine.txt");
  static PciKeyList list;
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  const std::vector<std::string> names = Names(list);
  ASSERT_EQ(6U, names.size());
  EXPECT_EQ("VEN_1AF4&DEV_1041&SUBSYS_10411AF4&REV_01", names[0]);
  EXPECT_EQ("VEN_8086&DEV_0D57&SUBSYS_00000000&REV_00", names[5]);
}

TEST(PciSysfsTest, MissingFolderFailsToOpen) {
  static PciKeyList list;
  EXPECT_FALSE(ReadPciKeyList("/nonexistent/leapcheck/devices", list));
}

TEST(PciSysfsTest, UnreadableDeviceMarksTheListIncomplete) {
  SysfsTree tree;
  tree.Replay("pci-virtual-machine.txt");
  tree.AddDevice("0000:00:1f.0", {{"vendor", "0x8086"}, {"device", "0x7110"}});
  tree.AddDevice("0000:00:1f.1", {{"vendor", "0x8086"},
                                  {"device", "0x7110"},
                                  {"subsystem_vendor", "0x0000"},
                                  {"subsystem_device", "0x0000"},
                                  {"revision", "0x100"}});  // too wide
  tree.AddDevice("0000:00:1f.2", {{"vendor", "junk"},
                                  {"device", "0x7110"},
                                  {"subsystem_vendor", "0x0000"},
                                  {"subsystem_device", "0x0000"},
                                  {"revision", "0x01"}});
  static PciKeyList list;
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  EXPECT_TRUE(list.incomplete);
  EXPECT_EQ(6U, list.count);  // the readable devices are still listed
}

TEST(PciSysfsTest, NameMustFitTheBuffer) {
  const PciHardwareId id{0x8086, 0x7110, 0, 0, 2};
  char16_t name[41];
  EXPECT_TRUE(FormatPciKeyName(id, name, 41));
  EXPECT_FALSE(FormatPciKeyName(id, name, 40));
}

}  // namespace
