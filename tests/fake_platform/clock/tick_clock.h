#pragma once

// The tick count comes from the script.
#include "system_tick_clock.h"
