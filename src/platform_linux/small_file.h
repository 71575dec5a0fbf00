#pragma once

// Small files of the kernel's (sysfs attributes, ACPI tables, /proc lists)
// read whole into a fixed buffer.

#include <cstddef>

// Reads up to `capacity` bytes of `path` into `buffer` and returns how many;
// `error` is 0, or the errno of the open or read that failed. A file longer
// than `capacity` is cut there.
std::size_t ReadSmallFile(const char* path, char* buffer, std::size_t capacity,
                          int& error);
