// The Win32 view of the configuration dialog, opened directly: its
// controls are the template's, placed and styled as it says, with the
// pictures drawn; OK has the focus and is the default; lists take no text.
#include <gtest/gtest.h>

#include "config/dialog_template.h"
#include "config/propertiesdlg.h"
#include "dialog_driver.h"
#include "platform/windows/dialog_view.h"

namespace k2t::windows_platform {
namespace {

using dialog_driver::Item;
using dialog_driver::TextOf;

RECT DialogUnits(HWND dialog, const DialogRect& r) {
  RECT rect{r.x, r.y, r.right(), r.bottom()};
  ::MapDialogRect(dialog, &rect);
  return rect;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[32] = {};
  ::GetClassNameW(hwnd, name, 32);
  return name;
}

// Opens the dialog over default settings and runs the steps.
std::vector<std::string> RunDialog(std::vector<dialog_driver::Step> steps, HWND* owner = nullptr) {
  dialog_driver::DialogDriver user;
  if (owner) *owner = user.owner();
  PendantSettings settings;
  Win32DialogView view(PropertiesDialogTemplate());
  propertiesdlg dialog(settings, view);
  return user.Run(std::move(steps), [&] { view.Run(dialog, ::GetActiveWindow()); });
}

void CheckControls(HWND dialog, HWND owner) {
  const DialogTemplate& t = PropertiesDialogTemplate();
  EXPECT_EQ(::GetWindow(dialog, GW_OWNER), owner);
  EXPECT_EQ(TextOf(dialog), L"");
  EXPECT_TRUE(::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
  RECT client{};
  ::GetClientRect(dialog, &client);
  const RECT size = DialogUnits(dialog, {0, 0, t.width, t.height});
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  EXPECT_EQ(::GetFocus(), Item(dialog, IDOK));
  EXPECT_EQ(::SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELONG(IDOK, DC_HASDEFID));

  HWND child = ::GetWindow(dialog, GW_CHILD);
  int pictures = 0;
  for (const ControlTemplate& c : t.controls) {
    ASSERT_NE(child, nullptr) << "fewer windows than controls";
    const LONG style = ::GetWindowLongW(child, GWL_STYLE);
    const std::wstring cls = ClassOf(child);
    EXPECT_EQ(::GetDlgCtrlID(child), c.id) << c.id;
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    const RECT expected = DialogUnits(dialog, c.rect);
    EXPECT_EQ(r.left, expected.left) << c.id;
    EXPECT_EQ(r.top, expected.top) << c.id;
    EXPECT_EQ(r.right, expected.right) << c.id;
    switch (c.kind) {
      case ControlKind::kFrame:
        EXPECT_EQ(cls, L"Button");
        EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
        break;
      case ControlKind::kText:
        EXPECT_EQ(cls, L"Static");
        EXPECT_EQ(TextOf(child), std::wstring(c.text.begin(), c.text.end()));
        break;
      case ControlKind::kPicture: {
        EXPECT_EQ(cls, L"Static");
        auto* picture = reinterpret_cast<HBITMAP>(::SendMessageW(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP bm{};
        ASSERT_TRUE(picture && ::GetObjectW(picture, sizeof bm, &bm)) << "bitmap " << c.bitmap;
        EXPECT_EQ(bm.bmWidth, expected.right - expected.left) << c.bitmap;
        ++pictures;
        break;
      }
      case ControlKind::kEdit:
        EXPECT_EQ(cls, L"Edit");
        EXPECT_EQ((style & ES_CENTER) != 0, (c.style & kStyleCentred) != 0) << c.id;
        break;
      case ControlKind::kList:
        EXPECT_EQ(cls, L"ComboBox");
        EXPECT_EQ(style & 3, CBS_DROPDOWNLIST) << c.id;
        EXPECT_EQ((style & CBS_SORT) != 0, (c.style & kStyleSorted) != 0) << c.id;
        EXPECT_EQ(::FindWindowExW(child, nullptr, L"Edit", nullptr), nullptr) << c.id;
        EXPECT_GT(::SendMessageW(child, CB_GETCOUNT, 0, 0), 0) << c.id;
        break;
      case ControlKind::kCheckBox:
        EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX) << c.id;
        break;
      case ControlKind::kRadioButton:
        EXPECT_EQ(style & BS_TYPEMASK, BS_AUTORADIOBUTTON) << c.id;
        EXPECT_EQ((style & WS_GROUP) != 0, (c.style & kStyleGroupStart) != 0) << c.id;
        break;
      case ControlKind::kPushButton:
        EXPECT_EQ(style & BS_TYPEMASK, BS_DEFPUSHBUTTON) << c.id;
        break;
    }
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "more windows than controls";
  EXPECT_EQ(pictures, 11);  // six knobs, V, C, F1 to F3
}

TEST(Win32DialogView, ControlsAreTheTemplatesControls) {
  HWND owner = nullptr;
  bool checked = false;
  RunDialog({[&](HWND dialog) {
              CheckControls(dialog, owner);
              return checked = true;
            }},
            &owner);
  EXPECT_TRUE(checked);
}

// The knob's body in the middle of its picture, the dialog's own colour
// around it.
TEST(Win32DialogView, PicturesLieOnTheDialogsColour) {
  RunDialog({[](HWND dialog) {
    HWND knob = nullptr;
    for (HWND c = ::GetWindow(dialog, GW_CHILD); c && !knob; c = ::GetWindow(c, GW_HWNDNEXT))
      if (::SendMessageW(c, STM_GETIMAGE, IMAGE_BITMAP, 0)) knob = c;
    HBITMAP picture = reinterpret_cast<HBITMAP>(::SendMessageW(knob, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP bm{};
    ::GetObjectW(picture, sizeof bm, &bm);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, picture);
    const COLORREF middle = ::GetPixel(dc, bm.bmWidth / 2, bm.bmHeight / 2 + 4);
    const COLORREF corner = ::GetPixel(dc, 0, 0);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    EXPECT_EQ(corner, ::GetSysColor(COLOR_BTNFACE));
    EXPECT_NEAR(GetRValue(middle), 0x3a, 8);
    EXPECT_NEAR(GetGValue(middle), 0x3d, 8);
    EXPECT_NEAR(GetBValue(middle), 0x42, 8);
    return true;
  }});
}

// A list control draws a tab as a box or a gap of its own: the function
// lists show spaces instead, the word after them in view.
TEST(Win32DialogView, ListItemsShowNoTabs) {
  RunDialog({[](HWND dialog) {
    for (int id : dlg::kFunctionList) {
      HWND list = Item(dialog, id);
      const int count = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
      EXPECT_GT(count, 52);
      for (int i = 0; i < count; ++i) {
        wchar_t item[256] = {};
        ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        EXPECT_EQ(std::wstring(item).find(L'\t'), std::wstring::npos) << id << " item " << i;
        if (i == 52) {
          EXPECT_EQ(std::wstring(item).rfind(L" ZeroAll ", 0), 0u) << id;
        }
      }
    }
    return true;
  }});
}

// Typing into a list selects the first item beginning with what was typed
// and never becomes the list's text.
TEST(Win32DialogView, ListsSelectByTypingAndTakeNoText) {
  const int list = dlg::kVelocityList;
  int step = 0;
  LRESULT before = -2;
  RunDialog({[&](HWND dialog) {
               before = ::SendMessageW(Item(dialog, list), CB_GETCURSEL, 0, 0);
               ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(dialog, list)), TRUE);
               ::PostMessageW(Item(dialog, list), WM_CHAR, L'5', 0);
               return ++step > 0;
             },
             [&](HWND dialog) {
               HWND l = Item(dialog, list);
               const LRESULT at = ::SendMessageW(l, CB_GETCURSEL, 0, 0);
               EXPECT_NE(at, before);
               wchar_t item[64] = {};
               ::SendMessageW(l, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(item));
               EXPECT_EQ(item[0], L'5');
               EXPECT_EQ(TextOf(l), item);
               ::PostMessageW(l, WM_CHAR, L'x', 0);  // no item begins with x
               return true;
             },
             [&](HWND dialog) {
               HWND l = Item(dialog, list);
               wchar_t item[64] = {};
               ::SendMessageW(l, CB_GETLBTEXT, static_cast<WPARAM>(::SendMessageW(l, CB_GETCURSEL, 0, 0)),
                              reinterpret_cast<LPARAM>(item));
               EXPECT_EQ(item[0], L'5');
               EXPECT_EQ(TextOf(l), item);
               return true;
             }});
}

// A static control showing a picture. Version 6 of the common controls
// shows its own copy of a bitmap with coverage and hands that copy back on
// the next STM_SETIMAGE; older controls (and Wine's) hand back the bitmap
// itself. Wine cannot show the first kind, so it is made here.
template <bool kCopies>
LRESULT CALLBACK PictureControl(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == STM_GETIMAGE) return ::GetWindowLongPtrW(hwnd, GWLP_USERDATA);
  if (message != STM_SETIMAGE) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  const LONG_PTR shown = kCopies && lparam ? reinterpret_cast<LONG_PTR>(::CreateBitmap(2, 2, 1, 32, nullptr)) : lparam;
  return ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, shown);
}

TEST(DialogPictures, WhatAControlHandsBackIsDeletedUnlessItIsTheDialogsOwn) {
  for (bool copies : {true, false}) {
    const wchar_t* name = copies ? L"K2tCopyingPicture" : L"K2tPlainPicture";
    WNDCLASSW wc{};
    wc.lpfnWndProc = copies ? &PictureControl<true> : &PictureControl<false>;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    ASSERT_NE(::RegisterClassW(&wc), 0);
    HWND control = ::CreateWindowExW(0, name, L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(control, nullptr);
    HBITMAP own = ::CreateBitmap(2, 2, 1, 32, nullptr);
    ::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(own));
    const auto shown = reinterpret_cast<HGDIOBJ>(::SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(shown, nullptr);

    TakeBackPictures({control}, {own});
    EXPECT_EQ(::SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
    EXPECT_EQ(::GetObjectType(own), static_cast<DWORD>(OBJ_BITMAP)) << "the dialog deletes its own later";
    if (copies) {
      EXPECT_EQ(::GetObjectType(shown), 0u) << "the control's copy leaks";
    }
    ::DeleteObject(own);
    ::DestroyWindow(control);
    ::UnregisterClassW(name, wc.hInstance);
  }
}

}  // namespace
}  // namespace k2t::windows_platform
