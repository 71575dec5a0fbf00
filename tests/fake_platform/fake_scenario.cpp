// Sets up the fake platform for the entry's tests from the environment, so
// that one program built on the fake can play every scenario. Test code only.

#include <cstdlib>
#include <cstring>

#include "fake_platform.h"

namespace {

void LoadScenario() {
  ResetFakePlatform();
  // The test path never ends by itself: stop after a few passes.
  Clocks().exitAfterCounterReads = 50;
  const char* scenario = std::getenv("LEAPCHECK_FAKE_SCENARIO");
  if (scenario == nullptr || std::strcmp(scenario, "ok") == 0) {
    AddKey(u"VEN_8086&DEV_7111&SUBSYS_00000000&REV_01");
  } else if (std::strcmp(scenario, "broken") == 0) {
    AddKey(u"VEN_8086&DEV_7110&SUBSYS_00000000&REV_02");
    AddKey(u"VEN_8086&DEV_7111&SUBSYS_00000000&REV_01");
  } else if (std::strcmp(scenario, "open-fails") == 0) {
    Registry().openFails = true;
  } else if (std::strcmp(scenario, "enum-fails") == 0) {
    AddKey(u"VEN_8086&DEV_7110&SUBSYS_00000000&REV_02");
    Registry().enumFailsAt = 1;
  } else if (std::strcmp(scenario, "leap") == 0) {
    QueueTick(0);
    QueueCounter(0);
    QueueCounter(0x100000);  // 1048 ms of counts in the first pass
    QueueTick(0);
  }
}

const bool scenarioLoaded = (LoadScenario(), true);

}  // namespace
