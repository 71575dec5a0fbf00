#pragma once

// The tick count is the system's (GetTickCount).
#include "system_tick_clock.h"
