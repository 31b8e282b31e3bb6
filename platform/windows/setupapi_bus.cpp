#include "platform/windows/setupapi_bus.h"

#include <windows.h>
#include <setupapi.h>

// The HID library's headers declare no C linkage of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstring>

#include "platform/windows/ansi_text.h"

namespace k2t::windows {

namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Reads take whole input reports; a buffer shorter than the device's report
// fails at once, a report longer than this one is not the pendant's.
constexpr DWORD kMaxReportLength = 64;

HANDLE OpenPath(const std::wstring& path, DWORD access, DWORD flags) {
  return ::CreateFileW(path.c_str(), access, kShareReadWrite, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool ReadAttributes(HANDLE file, HIDD_ATTRIBUTES& attributes) {
  std::memset(&attributes, 0, sizeof attributes);
  attributes.Size = sizeof attributes;
  return ::HidD_GetAttributes(file, &attributes) != FALSE;
}

// The device's input report length (report id included); 0 when unknown.
DWORD InputReportLength(HANDLE file) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!::HidD_GetPreparsedData(file, &preparsed) || !preparsed) return 0;
  HIDP_CAPS caps{};
  const bool ok = ::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  ::HidD_FreePreparsedData(preparsed);
  return ok ? caps.InputReportByteLength : 0;
}

// The attribute probe: it reads nothing and writes nothing.
class ProbeHandle final : public HidDevice {
 public:
  explicit ProbeHandle(HANDLE file) : file_(file) {}
  ~ProbeHandle() override { ::CloseHandle(file_); }
  ReadStart StartRead() override { return ReadStart::kFailed; }
  void TakeReport(InputReport& report) override { std::memset(report, 0, sizeof report); }
  void Write(const std::uint8_t*, std::size_t) override {}

 private:
  HANDLE file_;
};

// A file opened for overlapped transfers, with the manual-reset event they
// signal, and at most one transfer outstanding. Closing cancels that
// transfer and awaits its end, so the buffer it was given outlives it.
struct OverlappedFile {
  OverlappedFile(HANDLE f, HANDLE e) : file(f), event(e) {}
  ~OverlappedFile() {
    if (pending) {
      ::CancelIoEx(file, &overlapped);
      DWORD n = 0;
      ::GetOverlappedResult(file, &overlapped, &n, TRUE);
    }
    ::CloseHandle(file);
    ::CloseHandle(event);
  }
  OverlappedFile(const OverlappedFile&) = delete;
  OverlappedFile& operator=(const OverlappedFile&) = delete;

  // The OVERLAPPED for the next transfer, its event reset.
  OVERLAPPED* Next() {
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;
    ::ResetEvent(event);
    return &overlapped;
  }

  HANDLE file;
  HANDLE event;
  OVERLAPPED overlapped{};
  bool pending = false;
};

// Overlapped writes from a buffer of its own, never waited for: a pendant
// that stops taking output reports must not hold the host's GUI thread. While
// a write is still outstanding the next report is dropped; the tick after
// writes a fresh one.
class WriteHandle final : public HidDevice {
 public:
  WriteHandle(HANDLE file, HANDLE event) : io_(file, event) {}
  ReadStart StartRead() override { return ReadStart::kFailed; }
  void TakeReport(InputReport& report) override { std::memset(report, 0, sizeof report); }
  void Write(const std::uint8_t* data, std::size_t size) override {
    if (!data || size == 0 || size > sizeof buffer_) return;
    if (io_.pending) {
      DWORD n = 0;
      if (!::GetOverlappedResult(io_.file, &io_.overlapped, &n, FALSE) && ::GetLastError() == ERROR_IO_INCOMPLETE)
        return;  // the device has not taken the last one yet
      io_.pending = false;
    }
    std::memcpy(buffer_, data, size);
    if (::WriteFile(io_.file, buffer_, static_cast<DWORD>(size), nullptr, io_.Next())) return;
    if (::GetLastError() == ERROR_IO_PENDING) io_.pending = true;
  }

 private:
  std::uint8_t buffer_[kMaxReportLength] = {};
  OverlappedFile io_;  // last: cancelled and closed first
};

// Overlapped reads into a buffer of its own, never waited for. At most one
// read is outstanding: a read that completes at once is there to take; one
// that pends stays outstanding until a later tick's StartRead collects it.
class ReadHandle final : public HidDevice {
 public:
  ReadHandle(HANDLE file, HANDLE event, DWORD length) : length_(length), io_(file, event) {}

  ReadStart StartRead() override {
    if (have_) return ReadStart::kCompleted;
    if (io_.pending) return Collect();
    if (::ReadFile(io_.file, buffer_, length_, nullptr, io_.Next())) {
      io_.pending = true;  // completed at once: collected without waiting
      return Collect();
    }
    if (::GetLastError() != ERROR_IO_PENDING) return ReadStart::kFailed;
    io_.pending = true;
    return ReadStart::kPending;
  }

  void TakeReport(InputReport& report) override {
    std::memset(report, 0, sizeof report);
    std::memcpy(report, buffer_, std::min<std::size_t>(received_, sizeof report));
    have_ = false;
  }

  void Write(const std::uint8_t*, std::size_t) override {}

 private:
  ReadStart Collect() {
    DWORD n = 0;
    if (!::GetOverlappedResult(io_.file, &io_.overlapped, &n, FALSE)) {
      if (::GetLastError() == ERROR_IO_INCOMPLETE) return ReadStart::kPending;
      io_.pending = false;  // ended with an error: the device is gone
      return ReadStart::kFailed;
    }
    io_.pending = false;
    if (n == 0) return ReadStart::kPending;  // nothing came; the next start reads again
    received_ = n;
    have_ = true;
    return ReadStart::kCompleted;
  }

  DWORD length_;
  std::uint8_t buffer_[kMaxReportLength] = {};
  DWORD received_ = 0;
  bool have_ = false;
  OverlappedFile io_;  // last: cancelled and closed first
};

// The paths of the present HID interfaces, in enumeration order.
std::vector<std::wstring> InterfacePaths() {
  std::vector<std::wstring> paths;
  GUID hid_class{};
  ::HidD_GetHidGuid(&hid_class);
  HDEVINFO set = ::SetupDiGetClassDevsW(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, index, &data)) break;  // no more
    DWORD size = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size > 65536) continue;
    // DWORD-aligned storage for the detail record.
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) continue;
    const std::size_t max_chars = (size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    paths.emplace_back(detail->DevicePath, wcsnlen(detail->DevicePath, max_chars));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return paths;
}

}  // namespace

std::vector<HidInterface> SetupApiBus::Enumerate() {
  std::vector<HidInterface> result;
  for (const std::wstring& wide : InterfacePaths()) {
    const std::string path = Narrow(wide);
    if (path.empty() || Widen(path) != wide) continue;  // could not be opened by this name
    HANDLE probe = OpenPath(wide, 0, 0);
    if (probe == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes;
    const bool readable = ReadAttributes(probe, attributes);
    ::CloseHandle(probe);
    if (readable) result.push_back({path, attributes.VendorID, attributes.ProductID});
  }
  return result;
}

std::unique_ptr<HidDevice> SetupApiBus::Open(const std::string& path, HidAccess access) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return nullptr;
  switch (access) {
    case HidAccess::kAttributes: {
      HANDLE file = OpenPath(wide, 0, 0);
      if (file == INVALID_HANDLE_VALUE) return nullptr;
      HIDD_ATTRIBUTES attributes;
      if (!ReadAttributes(file, attributes)) {
        ::CloseHandle(file);
        return nullptr;
      }
      return std::make_unique<ProbeHandle>(file);
    }
    case HidAccess::kRead:
    case HidAccess::kWrite: {
      const bool read = access == HidAccess::kRead;
      HANDLE file = OpenPath(wide, read ? GENERIC_READ : GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
      if (file == INVALID_HANDLE_VALUE) return nullptr;
      HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
      if (!event) {
        ::CloseHandle(file);
        return nullptr;
      }
      if (!read) return std::make_unique<WriteHandle>(file, event);
      DWORD length = InputReportLength(file);
      if (length < kInputReportSize) length = kInputReportSize;
      if (length > kMaxReportLength) length = kMaxReportLength;
      return std::make_unique<ReadHandle>(file, event, length);
    }
  }
  return nullptr;
}

bool SetupApiBus::SamePath(std::string_view a, std::string_view b) const { return EqualsIgnoreCaseAnsi(a, b); }

}  // namespace k2t::windows
