#include "platform/windows/dialog_view.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "config/propertiesdlg.h"
#include "platform/windows/ansi_text.h"
#include "platform/windows/dialog_template.h"
#include "platform/windows/poll_window.h"

namespace k2t::windows_platform {

namespace {

std::wstring WindowText(HWND hwnd) {
  const int n = ::GetWindowTextLengthW(hwnd);
  if (n <= 0) return {};
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = ::GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

bool IsClass(HWND hwnd, const wchar_t* name) {
  wchar_t buffer[32] = {};
  return hwnd && ::GetClassNameW(hwnd, buffer, 32) > 0 && ::lstrcmpiW(buffer, name) == 0;
}

// A picture of the bitmap resource, scaled to fit width x height with its
// proportions kept, centred, and laid over the background colour. The
// resource's pixels carry their coverage in the fourth byte, colours
// premultiplied by it. Null when the resource is missing or not of that kind.
HBITMAP MakePicture(HINSTANCE instance, int id, int width, int height, COLORREF background) {
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return nullptr;
  HBITMAP source = static_cast<HBITMAP>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!source) return nullptr;
  DIBSECTION dib{};
  const bool usable = ::GetObjectW(source, sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBitsPixel == 32 &&
                      dib.dsBm.bmBits && dib.dsBm.bmWidth > 0 && dib.dsBm.bmHeight > 0;
  HBITMAP picture = nullptr;
  if (usable) {
    const int sw = dib.dsBm.bmWidth, sh = dib.dsBm.bmHeight;
    const bool bottom_up = dib.dsBmih.biHeight > 0;
    const auto* src = static_cast<const std::uint8_t*>(dib.dsBm.bmBits);
    const int stride = dib.dsBm.bmWidthBytes;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    picture = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (picture && bits) {
      auto* out = static_cast<std::uint8_t*>(bits);
      // The scale that keeps the whole picture inside.
      const double scale = std::min(static_cast<double>(width) / sw, static_cast<double>(height) / sh);
      const int tw = std::max(1, static_cast<int>(sw * scale + 0.5)), th = std::max(1, static_cast<int>(sh * scale + 0.5));
      const int left = (width - tw) / 2, top = (height - th) / 2;
      const std::uint8_t bg[3] = {GetBValue(background), GetGValue(background), GetRValue(background)};
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          std::uint8_t* px = out + (static_cast<std::size_t>(y) * width + x) * 4;
          double sum[4] = {0, 0, 0, 0};
          if (x >= left && x < left + tw && y >= top && y < top + th) {
            // The source pixels this one covers, averaged.
            const int x0 = (x - left) * sw / tw, x1 = std::max(x0 + 1, (x - left + 1) * sw / tw);
            const int y0 = (y - top) * sh / th, y1 = std::max(y0 + 1, (y - top + 1) * sh / th);
            for (int sy = y0; sy < y1 && sy < sh; ++sy) {
              const std::uint8_t* row = src + static_cast<std::size_t>(bottom_up ? sh - 1 - sy : sy) * stride;
              for (int sx = x0; sx < x1 && sx < sw; ++sx)
                for (int k = 0; k < 4; ++k) sum[k] += row[sx * 4 + k];
            }
            const double n = static_cast<double>((std::min(y1, sh) - y0) * (std::min(x1, sw) - x0));
            for (double& v : sum) v /= n;
          }
          for (int k = 0; k < 3; ++k)
            px[k] = static_cast<std::uint8_t>(std::min(255.0, sum[k] + (255.0 - sum[3]) * bg[k] / 255.0 + 0.5));
          px[3] = 255;  // opaque: a control that honours coverage shows the same
        }
      }
    } else if (picture) {
      ::DeleteObject(picture);
      picture = nullptr;
    }
  }
  ::DeleteObject(source);
  return picture;
}

// The module's name, as the window framework titles a DLL's message boxes.
std::wstring ModuleTitle() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(HiddenWindow::Instance(), path, MAX_PATH);
  std::wstring name(path, n < MAX_PATH ? n : 0);
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

}  // namespace

void TakeBackPictures(const std::vector<HWND>& controls, const std::vector<HBITMAP>& own) {
  for (HWND control : controls) {
    auto* back = reinterpret_cast<HBITMAP>(::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (back && std::find(own.begin(), own.end(), back) == own.end()) ::DeleteObject(back);
  }
}

Win32DialogView::~Win32DialogView() { DeleteBitmaps(); }

void Win32DialogView::DeleteBitmaps() {
  for (HBITMAP b : bitmaps_) ::DeleteObject(b);
  bitmaps_.clear();
}

DialogResult Win32DialogView::Run(DialogEvents& events, HWND owner) {
  const std::vector<std::uint32_t> tmpl = BuildDialogTemplate(dialog_);
  events_ = &events;
  const INT_PTR result =
      ::DialogBoxIndirectParamW(HiddenWindow::Instance(), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), owner,
                                &Win32DialogView::DialogProc, reinterpret_cast<LPARAM>(this));
  events_ = nullptr;
  hwnd_ = nullptr;
  picture_controls_.clear();
  DeleteBitmaps();
  // -1: the dialog could not be made; as a cancel, the settings stay.
  return result == IDOK ? DialogResult::kOk : DialogResult::kCancel;
}

INT_PTR CALLBACK Win32DialogView::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32DialogView*>(lparam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    try {
      self->OnInitDialog(hwnd);
    } catch (...) {
      ::EndDialog(hwnd, IDCANCEL);
    }
    return TRUE;  // the focus goes to the first control that takes it: OK
  }
  auto* self = reinterpret_cast<Win32DialogView*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_DESTROY) {
    // The controls still exist here, and still hold their pictures.
    TakeBackPictures(self->picture_controls_, self->bitmaps_);
    self->picture_controls_.clear();
    return FALSE;
  }
  if (!self->events_) return FALSE;
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
    // Enter arrives as the default button's IDOK; Escape and the close box
    // as IDCANCEL. Nothing thrown may unwind into the dialog manager: the
    // dialog then closes as cancelled.
    try {
      if (LOWORD(wparam) == IDOK) {
        self->events_->OnOK();
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        self->events_->OnCancel();
        return TRUE;
      }
    } catch (...) {
      ::EndDialog(hwnd, IDCANCEL);
      return TRUE;
    }
  }
  return FALSE;
}

void Win32DialogView::OnInitDialog(HWND hwnd) {
  hwnd_ = hwnd;
  ::SendMessageW(hwnd, DM_SETDEFID, IDOK, 0);
  ShowPictures();
  events_->OnInitDialog();
  FitListDropWidths();
}

void Win32DialogView::ShowPictures() {
  // The controls were made in template order, which is their order among
  // the dialog's children; pictures have no identifier to find them by.
  const COLORREF background = ::GetSysColor(COLOR_BTNFACE);
  HWND child = ::GetWindow(hwnd_, GW_CHILD);
  for (const ControlTemplate& c : dialog_.controls) {
    if (!child) break;
    if (c.kind == ControlKind::kPicture && IsClass(child, L"Static")) {
      RECT r{};
      ::GetClientRect(child, &r);
      if (HBITMAP picture = MakePicture(HiddenWindow::Instance(), c.bitmap, r.right, r.bottom, background)) {
        bitmaps_.push_back(picture);
        picture_controls_.push_back(child);
        ::SendMessageW(child, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
      }
    }
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
}

void Win32DialogView::FitListDropWidths() {
  // A drop-down shows its items whole where the closed field is narrower.
  HDC dc = ::GetDC(hwnd_);
  if (!dc) return;
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(hwnd_, WM_GETFONT, 0, 0)));
  for (const ControlTemplate& c : dialog_.controls) {
    if (c.kind != ControlKind::kList) continue;
    HWND list = Control(c.id);
    const int count = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
    int widest = 0;
    for (int i = 0; i < count; ++i) {
      const LRESULT length = ::SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
      if (length <= 0 || length > 4096) continue;
      std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
      ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
      SIZE size{};
      if (::GetTextExtentPoint32W(dc, item.c_str(), static_cast<int>(length), &size)) widest = std::max(widest, static_cast<int>(size.cx));
    }
    const int padding = ::GetSystemMetrics(SM_CXVSCROLL) + 8;
    ::SendMessageW(list, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + padding), 0);
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(hwnd_, dc);
}

HWND Win32DialogView::Control(int id) const { return hwnd_ && id != kNoControlId ? ::GetDlgItem(hwnd_, id) : nullptr; }

std::string Win32DialogView::Text(int id) {
  HWND edit = Control(id);
  return IsClass(edit, L"Edit") ? Narrow(WindowText(edit), Encoding::kUtf8) : std::string();
}

void Win32DialogView::SetText(int id, std::string_view text) {
  HWND edit = Control(id);
  if (IsClass(edit, L"Edit")) ::SetWindowTextW(edit, Widen(text, Encoding::kUtf8).c_str());
}

bool Win32DialogView::Checked(int id) {
  HWND button = Control(id);
  return IsClass(button, L"Button") && ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32DialogView::SetChecked(int id, bool on) {
  HWND button = Control(id);
  if (IsClass(button, L"Button")) ::SendMessageW(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32DialogView::ClearList(int id) {
  HWND list = Control(id);
  if (IsClass(list, L"ComboBox")) ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
}

void Win32DialogView::AddToList(int id, std::string_view shown) {
  HWND list = Control(id);
  if (!IsClass(list, L"ComboBox")) return;
  // A list control draws a tab as a gap of its own or as a box.
  std::wstring item = Widen(shown, Encoding::kUtf8);
  std::replace(item.begin(), item.end(), L'\t', L' ');
  ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void Win32DialogView::SelectInList(int id, int position) {
  HWND list = Control(id);
  if (!IsClass(list, L"ComboBox")) return;
  const int count = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
  ::SendMessageW(list, CB_SETCURSEL, position >= 0 && position < count ? static_cast<WPARAM>(position) : static_cast<WPARAM>(-1), 0);
}

int Win32DialogView::Selection(int id) {
  HWND list = Control(id);
  if (!IsClass(list, L"ComboBox")) return -1;
  const LRESULT at = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
  return at == CB_ERR ? -1 : static_cast<int>(at);
}

int Win32DialogView::ListCount(int id) {
  HWND list = Control(id);
  if (!IsClass(list, L"ComboBox")) return 0;
  const LRESULT n = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
  return n == CB_ERR ? 0 : static_cast<int>(n);
}

void Win32DialogView::ShowWarning(std::string_view message) {
  ::MessageBoxW(hwnd_, Widen(message, Encoding::kUtf8).c_str(), ModuleTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void Win32DialogView::FocusAndSelectAll(int id) {
  HWND control = Control(id);
  if (!control) return;
  ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  if (IsClass(control, L"Edit")) ::SendMessageW(control, EM_SETSEL, 0, -1);
}

void Win32DialogView::EndDialog(DialogResult result) {
  if (hwnd_) ::EndDialog(hwnd_, result == DialogResult::kOk ? IDOK : IDCANCEL);
}

void RunConfigDialogWin32(PendantSettings& settings) {
  // The host may call Config again from a timer while the dialog runs.
  static bool running = false;
  if (running) return;
  running = true;
  struct Done {
    ~Done() { running = false; }
  } done;
  Win32DialogView view(PropertiesDialogTemplate());
  propertiesdlg dialog(settings, view);
  view.Run(dialog, ::GetActiveWindow());
}

}  // namespace k2t::windows_platform
