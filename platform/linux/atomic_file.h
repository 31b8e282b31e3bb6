// Saving a file so that a failure never leaves it half written, where the
// file system allows that.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace k2t::linux_platform {

// Test hooks: make the write fail after the temporary file is complete and
// before it is renamed over the target, or make the folder refuse the
// temporary file with the given errno.
struct AtomicWriteFaults {
  bool fail_before_rename = false;
  int refuse_temporary = 0;
};

// Writes data to the file at path (a symbolic link is followed to its
// file). Normally through a temporary file in the same folder, flushed to
// disk and renamed over the target, so the file is replaced whole or not at
// all; an existing file keeps its permissions, owner and group. On any
// failure there the target is untouched and the temporary file removed.
//
// The file is written in place instead (space reserved first, then
// overwritten, cut to length and flushed) where a replacement would lose
// something: a file with several hard links, a file whose owner or group the
// replacement cannot take, and a folder that cannot take the temporary file
// (no write permission, name too long) while the file itself is writable.
// A path naming something other than a regular file is never written.
// On failure, error (when given) holds the errno that says why.
bool AtomicWriteFile(const std::string& path, const void* data, std::size_t size,
                     const AtomicWriteFaults* faults = nullptr, int* error = nullptr);

// The same for content made in pieces, so a large file is never held whole
// in memory on the usual path: `produce` hands each piece to the sink and
// returns false (as the sink does) when something failed.
using ContentSink = std::function<bool(const char* data, std::size_t size)>;
using ContentSource = std::function<bool(const ContentSink& sink)>;
bool AtomicWriteFile(const std::string& path, const ContentSource& produce,
                     const AtomicWriteFaults* faults = nullptr, int* error = nullptr);

}  // namespace k2t::linux_platform
