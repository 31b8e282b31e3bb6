#include "platform/windows/dialog_template.h"

#include <windows.h>

#include <cstring>
#include <string_view>

namespace k2t::windows_platform {

namespace {

// Predefined window classes, by their ordinal in a template.
constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082, kComboBox = 0x0085;

class TemplateWriter {
 public:
  void Word(WORD w) { bytes_.insert(bytes_.end(), reinterpret_cast<const std::uint8_t*>(&w), reinterpret_cast<const std::uint8_t*>(&w) + 2); }
  void Dword(DWORD d) {
    Word(static_cast<WORD>(d & 0xFFFF));
    Word(static_cast<WORD>(d >> 16));
  }
  void Short(int v) { Word(static_cast<WORD>(static_cast<short>(v))); }
  // The template's texts are ASCII; each character is its own UTF-16 unit.
  void Text(std::string_view text) {
    for (char c : text) Word(static_cast<WORD>(static_cast<unsigned char>(c)));
    Word(0);
  }
  void AlignDword() {
    while (bytes_.size() % 4) bytes_.push_back(0);
  }
  std::vector<std::uint32_t> Take() {
    AlignDword();
    std::vector<std::uint32_t> out(bytes_.size() / 4);
    std::memcpy(out.data(), bytes_.data(), bytes_.size());
    return out;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

struct ItemClass {
  WORD atom;
  DWORD style;
  DWORD ex_style = 0;
};

// Window styles are long in the headers; a template holds them as DWORDs.
constexpr DWORD Bits(long style) { return static_cast<DWORD>(style); }

ItemClass ClassOf(const ControlTemplate& c) {
  switch (c.kind) {
    case ControlKind::kFrame:
      return {kButton, BS_GROUPBOX};
    case ControlKind::kText: {
      const DWORD align = (c.style & kStyleCentred) ? SS_CENTER : (c.style & kStyleRight) ? SS_RIGHT : SS_LEFT;
      return {kStatic, align | SS_NOPREFIX};
    }
    case ControlKind::kPicture:
      // The picture is made to the control's size when the dialog opens.
      return {kStatic, SS_BITMAP | SS_CENTERIMAGE};
    case ControlKind::kEdit:
      // The sunken edge Windows gives a bordered edit box in a dialog.
      return {kEdit, Bits(ES_AUTOHSCROLL | WS_TABSTOP | ((c.style & kStyleCentred) ? ES_CENTER : ES_LEFT)),
              WS_EX_CLIENTEDGE};
    case ControlKind::kList:
      // Not editable: the setting is the selected item's position.
      return {kComboBox, Bits(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | ((c.style & kStyleSorted) ? CBS_SORT : 0))};
    case ControlKind::kCheckBox:
      return {kButton, BS_AUTOCHECKBOX | WS_TABSTOP};
    case ControlKind::kRadioButton:
      return {kButton, Bits(BS_AUTORADIOBUTTON | ((c.style & kStyleGroupStart) ? WS_TABSTOP : 0))};
    case ControlKind::kPushButton:
      return {kButton, Bits(((c.style & kStyleDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP)};
  }
  return {kStatic, SS_LEFT};
}

}  // namespace

std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& dialog) {
  TemplateWriter w;
  // DLGTEMPLATEEX
  w.Word(1);       // version
  w.Word(0xFFFF);  // extended template
  w.Dword(0);      // help id
  w.Dword(WS_EX_TOPMOST);
  w.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT | DS_SETFOREGROUND | DS_CENTER);
  w.Word(static_cast<WORD>(dialog.controls.size()));
  w.Short(0);
  w.Short(0);
  w.Short(dialog.width);
  w.Short(dialog.height);
  w.Word(0);  // no menu
  w.Word(0);  // the dialog class
  w.Text("");  // empty caption
  w.Word(static_cast<WORD>(dialog.point_size));
  w.Word(FW_NORMAL);
  w.Word(static_cast<WORD>(DEFAULT_CHARSET << 8));  // italic 0, charset
  w.Text(dialog.font);

  for (const ControlTemplate& c : dialog.controls) {
    const ItemClass item = ClassOf(c);
    const bool joins_group = c.kind == ControlKind::kRadioButton && !(c.style & kStyleGroupStart);
    // DLGITEMTEMPLATEEX
    w.AlignDword();
    w.Dword(0);  // help id
    w.Dword(item.ex_style);
    w.Dword(WS_CHILD | WS_VISIBLE | (joins_group ? 0 : WS_GROUP) | item.style);
    w.Short(c.rect.x);
    w.Short(c.rect.y);
    w.Short(c.rect.width);
    w.Short(c.kind == ControlKind::kList ? c.rect.height + kListDropHeight : c.rect.height);
    w.Dword(static_cast<DWORD>(c.id));  // kNoControlId is -1, as static controls have it
    w.Word(0xFFFF);
    w.Word(item.atom);
    w.Text(c.kind == ControlKind::kPicture ? std::string_view() : c.text);
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace k2t::windows_platform
