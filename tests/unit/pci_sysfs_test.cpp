#include "pci_sysfs.h"

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if !defined(LEAPCHECK_TEST_DATA) || !defined(LEAPCHECK_TEST_LIB)
#error "the build names the test data and the shell library's folders"
#endif

namespace {

// A read error of the device folder, which no folder made for a test gives:
// after `entriesLeft` more entries, readdir fails once with `error`.
struct ReaddirFault {
  bool armed;
  int entriesLeft;
  int error;
};

ReaddirFault& Fault() {
  static ReaddirFault fault;
  return fault;
}

}  // namespace

// Stands in for the C library's readdir in this test program, and passes
// every call on to it unless a fault is armed.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" dirent* readdir(DIR* dir) {
  using Readdir = dirent* (*)(DIR*);
  static const Readdir next = [] {
    void* const symbol = dlsym(RTLD_NEXT, "readdir");
    Readdir function = nullptr;
    std::memcpy(&function, &symbol, sizeof function);
    return function;
  }();
  ReaddirFault& fault = Fault();
  if (fault.armed) {
    if (fault.entriesLeft == 0) {
      fault.armed = false;
      errno = fault.error;
      return nullptr;
    }
    --fault.entriesLeft;
  }
  return next(dir);
}

namespace {

// Lays out a recorded device list as the kernel's device folder would show
// it, one folder per slot with its ID attributes.
class SysfsTree {
 public:
  SysfsTree() {
    // In memory where there is a place for it: the trees of thousands of
    // devices take seconds to make on some disks.
    char pattern[] = "/dev/shm/leapcheck-sysfs-XXXXXX";
    char fallback[] = "/tmp/leapcheck-sysfs-XXXXXX";
    const char* made = mkdtemp(pattern);
    base_ = made != nullptr ? made : mkdtemp(fallback);
    root_ = base_ + "/devices";
    mkdir(root_.c_str(), 0755);
  }
  ~SysfsTree() { std::filesystem::remove_all(base_); }
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  // The device folder, whose entries are folders or, as in the kernel's,
  // links to them.
  const std::string& root() const { return root_; }

  // Made by the shell tests' maker of such trees, so that these tests and
  // the shell tests read one and the same layout of a recording.
  void Replay(const std::string& recording) {
    const std::string command = "bash '" LEAPCHECK_TEST_LIB
                                "/recorded_board.sh' '" LEAPCHECK_TEST_DATA
                                "/" +
                                recording + "' '" + root_ + "'";
    // The command names only the build's folders and this test's own.
    // NOLINTNEXTLINE(cert-env33-c)
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }

  void AddDevice(
      const std::string& slot,
      const std::vector<std::pair<std::string, std::string>>& attributes) {
    MakeFolder(root_ + "/" + slot, attributes);
  }

  // A device with all five attributes.
  void AddDevice(const std::string& slot, unsigned vendor, unsigned device,
                 unsigned revision) {
    AddDevice(slot, IdAttributes(vendor, device, revision));
  }

  // A device folder outside the device folder, for links to point at.
  std::string AddTarget(const std::string& name, unsigned vendor,
                        unsigned device, unsigned revision) {
    std::string dir = base_ + "/" + name;
    MakeFolder(dir, IdAttributes(vendor, device, revision));
    return dir;
  }

  void AddLink(const std::string& slot, const std::string& target) {
    ASSERT_EQ(0, symlink(target.c_str(), (root_ + "/" + slot).c_str()));
  }

 private:
  using Attributes = std::vector<std::pair<std::string, std::string>>;

  static Attributes IdAttributes(unsigned vendor, unsigned device,
                                 unsigned revision) {
    return {{"vendor", Hex(vendor)},
            {"device", Hex(device)},
            {"subsystem_vendor", "0x0000"},
            {"subsystem_device", "0x0000"},
            {"revision", Hex(revision)}};
  }

  static std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
  }

  static void MakeFolder(const std::string& dir, const Attributes& attributes) {
    mkdir(dir.c_str(), 0755);
    for (const auto& attribute : attributes) {
      std::ofstream(dir + "/" + attribute.first) << attribute.second << "\n";
    }
  }

  std::string base_;
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

TEST(PciSysfsTest, DeviceThatVanishesIsLeftOut) {
  SysfsTree tree;
  tree.Replay("pci-virtual-machine.txt");
  // Unplugged between the listing and the reads: a folder that has lost its
  // files, a link whose device is gone, and a device whose attributes went
  // away part-way.
  tree.AddDevice("0000:00:1f.0", {});
  tree.AddLink("0000:00:1f.1", tree.root() + "/../unplugged");
  tree.AddDevice("0000:00:1f.2", {{"vendor", "0x8086"}, {"device", "0x7110"}});
  static PciKeyList list;
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  EXPECT_FALSE(list.incomplete);
  EXPECT_EQ(6U, list.count);
}

TEST(PciSysfsTest, MalformedAttributeMarksTheListIncomplete) {
  const std::vector<std::pair<std::string, std::string>> malformed[] = {
      {{"vendor", "0x8086"},
       {"device", "0x7110"},
       {"subsystem_vendor", "0x0000"},
       {"subsystem_device", "0x0000"},
       {"revision", "0x100"}},  // too wide
      {{"vendor", "junk"},
       {"device", "0x7110"},
       {"subsystem_vendor", "0x0000"},
       {"subsystem_device", "0x0000"},
       {"revision", "0x01"}},
  };
  for (const auto& attributes : malformed) {
    SysfsTree tree;
    tree.Replay("pci-virtual-machine.txt");
    tree.AddDevice("0000:00:1f.0", attributes);
    static PciKeyList list;
    ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
    EXPECT_TRUE(list.incomplete) << attributes.front().second;
    EXPECT_EQ(6U, list.count);  // the readable devices are still listed
  }
}

TEST(PciSysfsTest, ReadErrorOfTheFolderIsNoEnd) {
  SysfsTree tree;
  tree.Replay("pci-virtual-machine.txt");
  static PciKeyList list;
  Fault() = ReaddirFault{true, 4, EIO};
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  Fault().armed = false;
  EXPECT_TRUE(list.incomplete);
  EXPECT_LT(list.count, 6U);
}

TEST(PciSysfsTest, IdenticalVirtualFunctionsShareOneKey) {
  SysfsTree tree;
  tree.AddDevice("0000:00:00.0", 0x8086, 0x0d57, 0);
  tree.AddDevice("0000:00:01.0", 0x1af4, 0x1041, 1);
  const std::string function = tree.AddTarget("vf", 0x15b3, 0x101e, 0);
  for (int i = 0; i < 5000; ++i) {
    char slot[32];
    std::snprintf(slot, sizeof slot, "0000:%02x:%02x.%x", 0x10 + i / 256,
                  i / 8 % 32, i % 8);
    tree.AddLink(slot, function);
  }
  static PciKeyList list;
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  EXPECT_FALSE(list.incomplete);
  const std::vector<std::string> expected = {
      "VEN_15B3&DEV_101E&SUBSYS_00000000&REV_00",
      "VEN_1AF4&DEV_1041&SUBSYS_00000000&REV_01",
      "VEN_8086&DEV_0D57&SUBSYS_00000000&REV_00",
  };
  EXPECT_EQ(expected, Names(list));
}

TEST(PciSysfsTest, OnlyMoreDistinctKeysThanTheCapFail) {
  SysfsTree tree;
  // As many distinct IDs as the list holds, in descending order so that
  // every one is inserted at the front, and a duplicate of one of them.
  for (unsigned i = 0; i < MaxPciKeys; ++i) {
    const unsigned id = static_cast<unsigned>(MaxPciKeys) - 1 - i;
    tree.AddDevice("dev" + std::to_string(i), 0x1af4, id / 256, id % 256);
  }
  tree.AddDevice("duplicate", 0x1af4, 0, 0);
  static PciKeyList list;
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  EXPECT_FALSE(list.incomplete);
  ASSERT_EQ(MaxPciKeys, list.count);
  EXPECT_EQ("VEN_1AF4&DEV_0000&SUBSYS_00000000&REV_00", Names(list).front());
  EXPECT_EQ("VEN_1AF4&DEV_000F&SUBSYS_00000000&REV_FF", Names(list).back());

  tree.AddDevice("one-more", 0x1af4, 0x10, 0);
  ASSERT_TRUE(ReadPciKeyList(tree.root().c_str(), list));
  EXPECT_TRUE(list.incomplete);
  EXPECT_EQ(MaxPciKeys, list.count);
}

TEST(PciSysfsTest, NameMustFitTheBuffer) {
  const PciHardwareId id{0x8086, 0x7110, 0, 0, 2};
  char16_t name[41];
  EXPECT_TRUE(FormatPciKeyName(id, name, 41));
  EXPECT_FALSE(FormatPciKeyName(id, name, 40));
}

}  // namespace
