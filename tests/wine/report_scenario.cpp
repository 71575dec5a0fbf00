// Scripts the fake platform for one leap report whose samples need all 64
// bits, so that the Windows build's C runtime shows how it prints them: a
// counter that steps back by 0x100000 counts (about 1 s at 1 MHz) after three
// quiet passes. The program ends after the report. Test code only.

#include "fake_platform.h"

namespace {

void LoadReportScenario() {
  ResetFakePlatform();  // 1 MHz; later reads step 1000 counts and 1 ms
  QueueTick(100);
  QueueCounter(0x1122334455667788);  // start
  QueueCounter(0x1122334455667B70);
  QueueCounter(0x1122334455667F58);
  QueueCounter(0x1122334455668340);
  QueueCounter(0x1122334455568340);  // the leap, backwards
  // Start, four passes, nine Next reads and one quiet pass.
  Clocks().exitAfterCounterReads = 15;
}

const bool scenarioLoaded = (LoadReportScenario(), true);

}  // namespace
