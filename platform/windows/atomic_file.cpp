#include "platform/windows/atomic_file.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/windows/ansi_text.h"

namespace k2t::windows_platform {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  bool Close() {
    if (!valid()) return true;
    const bool ok = ::CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

// The file a symbolic link points to; the path itself otherwise. The call
// that tells came with Vista, as symbolic links did: looked up when needed,
// so the DLL loads on XP, which has no links to follow.
std::wstring FinalPath(const std::wstring& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
  using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  const FARPROC symbol = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW");
  if (!symbol) return path;
  FinalPathFn final_path = nullptr;
  static_assert(sizeof final_path == sizeof symbol);
  std::memcpy(&final_path, &symbol, sizeof final_path);
  Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return path;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD n = final_path(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = final_path(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (n == 0 || n >= buffer.size()) return path;
  return std::wstring(buffer.data(), n);
}

// 0 when unknown (Wine does not count links).
unsigned long LinkCount(const std::wstring& path) {
  Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return 0;
  return info.nNumberOfLinks;
}

bool Busy(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// Overwrites an existing file; 0 or the error. Other programs may go on
// reading it meanwhile. A file held against writing is tried again twice,
// 5 ms apart: a wait lasts at most a clock tick (15.6 ms) beyond what it
// asks, so the whole stays under 50 ms. The space is reserved before the
// first byte changes, so a full disk leaves the old content whole.
DWORD WriteInPlace(const std::wstring& path, const void* data, std::size_t size, const AtomicWriteFaults* faults) {
  unsigned busy = faults ? faults->in_place_busy : 0;
  HANDLE opened = INVALID_HANDLE_VALUE;
  for (int attempt = 0;; ++attempt) {
    DWORD error = ERROR_SHARING_VIOLATION;
    if (busy > 0) {
      --busy;
    } else {
      opened = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (opened != INVALID_HANDLE_VALUE) break;
      error = ::GetLastError();
    }
    if (!Busy(error) || attempt == 2) return error;
    ::Sleep(5);
  }
  Handle file(opened);
  LARGE_INTEGER length{}, end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  const LARGE_INTEGER zero{};
  bool ok = ::GetFileSizeEx(file.get(), &length) != 0;
  if (ok && length.QuadPart < end.QuadPart)
    ok = ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
  ok = ok && ::SetFilePointerEx(file.get(), zero, nullptr, FILE_BEGIN) && WriteAll(file.get(), data, size);
  ok = ok && ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
  ok = ok && ::FlushFileBuffers(file.get());
  const DWORD error = ok ? 0 : ::GetLastError();
  if (!file.Close() && ok) return ::GetLastError();
  return ok ? 0 : (error ? error : ERROR_WRITE_FAULT);
}

std::wstring TemporaryName(const std::wstring& folder, unsigned attempt) {
  static unsigned counter = 0;
  const unsigned long tag = (::GetCurrentProcessId() << 12) ^ (++counter * 2654435761u) ^ attempt;
  wchar_t name[24];
  ::wsprintfW(name, L"~k2t%08lx.tmp", tag);
  const wchar_t last = folder.empty() ? L'\0' : folder.back();
  return folder + (last == L'\\' || last == L'/' ? L"" : L"\\") + name;
}


// The save; 0 or the error.
DWORD Replace(const std::wstring& path, const void* data, std::size_t size, const AtomicWriteFaults* faults) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND) return ::GetLastError();
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
  const std::wstring target = exists ? FinalPath(path, attributes) : path;

  if (exists) {
    const unsigned long links = faults && faults->link_count ? faults->link_count : LinkCount(target);
    if (links > 1) return WriteInPlace(target, data, size, faults);
  }

  const std::wstring folder = FolderOf(target);
  std::wstring temp;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    temp = TemporaryName(folder, attempt);
    if (faults && faults->temporary_denied) {
      ::SetLastError(ERROR_ACCESS_DENIED);
    } else {
      created = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (created != INVALID_HANDLE_VALUE) break;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    // A folder that takes no new file may still hold a file we may write.
    if (exists && error == ERROR_ACCESS_DENIED) return WriteInPlace(target, data, size, faults);
    return error;
  }
  Handle file(created);
  if (!file.valid()) return ERROR_FILE_EXISTS;
  DWORD error = 0;
  const auto step = [&error](bool done) {
    if (!done && !error) error = ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT;
    return done;
  };
  step(WriteAll(file.get(), data, size)) && step(::FlushFileBuffers(file.get()) != 0);
  step(file.Close());
  if (!error && faults && faults->fail_before_replace) error = ERROR_WRITE_FAULT;
  if (!error && exists) {
    bool replaced = ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                   nullptr) != 0;
    DWORD refused = replaced ? 0 : ::GetLastError();
    if (faults && faults->replace_error) replaced = false, refused = faults->replace_error;
    // Another program holds the file without delete sharing: the target
    // is untouched and may still be written in place.
    if (!replaced && (Busy(refused) || refused == ERROR_ACCESS_DENIED || refused == ERROR_UNABLE_TO_REMOVE_REPLACED)) {
      ::DeleteFileW(temp.c_str());
      return WriteInPlace(target, data, size, faults);
    }
    // A file system without ReplaceFile's bookkeeping still renames.
    if (!replaced) step(::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0);
  } else if (!error) {
    step(::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0);
  }
  // ReplaceFileW can fail after removing the target; the temporary file is
  // then the only copy of the profile and stays.
  if (error && (!exists || ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES))
    ::DeleteFileW(temp.c_str());
  return error;
}

}  // namespace

bool AtomicWriteFile(const std::wstring& path, const void* data, std::size_t size, const AtomicWriteFaults* faults,
                     unsigned long* error) {
  const DWORD failure = Replace(path, data, size, faults);
  if (error) *error = failure;
  return failure == 0;
}

std::string ErrorText(unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const std::string out = SystemWords(text ? std::wstring_view(text, n) : std::wstring_view());
  if (text) ::LocalFree(text);
  return (out.empty() ? std::string("Error") : out) + " (" + std::to_string(error) + ")";
}

}  // namespace k2t::windows_platform
