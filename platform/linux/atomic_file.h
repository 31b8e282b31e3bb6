// Replacing a file whole or not at all.
#pragma once

#include <cstddef>
#include <string>

namespace k2t::linux_platform {

// Test hook: makes the write fail after the temporary file is complete and
// before it is renamed over the target.
struct AtomicWriteFaults {
  bool fail_before_rename = false;
};

// Writes data to a temporary file in the target's folder, flushes it to
// disk and renames it over the target (following a symbolic link to its
// file, and keeping an existing file's permissions). On any failure the
// target is untouched and the temporary file removed.
bool AtomicWriteFile(const std::string& path, const void* data, std::size_t size,
                     const AtomicWriteFaults* faults = nullptr);

}  // namespace k2t::linux_platform
