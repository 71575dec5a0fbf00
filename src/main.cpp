#include <cstdio>

#include "chipset_check.h"
#include "leap_test.h"
#include "output_check.h"
#include "platform.h"

int main(int argc, char** /*argv*/) {
  PrepareStandardOutput();
  std::printf("Performance Counter Time Leap Check Tool\n");
  std::printf("see https://support.windows.com/kb/274323/en-us\n");

  const ChipsetStatus status = CheckChipset();
  if (status == ChipsetStatus::RegistryError) {
    std::printf("CheckChipset failed reading the registry.\n");
  } else if (status == ChipsetStatus::Broken) {
    std::printf("CheckChipset: chipset broken.\n");
  } else {
    std::printf("CheckChipset: chipset ok.\n");
  }

  // Only the count matters: any first argument, even an empty one, starts
  // the test.
  if (argc < 2) {
    std::printf("use runtest as commandline parameter to run the test code\n");
    FlushOutputOrExit();  // a check that never reached its reader is no pass
    return 0;
  }
  std::printf("Running Test Code\n");
  // Here, while errno still holds the failed write's error: the timers'
  // start, which reads files that may be missing, would overwrite it.
  FlushOutputOrExit();
  RunLeapTest();
}
