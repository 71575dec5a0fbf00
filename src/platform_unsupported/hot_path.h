#pragma once

#error \
    "leapcheck has no platform layer for this target: only Windows and Linux are supported"
