// Before <windows.h>: the model's header uses std::min and std::max.
#define NOMINMAX
#include "platform/win32/config_dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/config_model.h"
#include "datafile/zip_file_settings.h"
#include "platform/win32/data_file_host_win32.h"
#include "platform/win32/registry_value_store.h"
#include "platform/win32/user_time.h"
#include "platform/win32/window_class.h"
#include "settings/settings.h"

namespace quenvale {

namespace {

constexpr char kDialogClass[] = "QuenvaleConfigDialog";
constexpr UINT_PTR kClockTimerId = 1;
constexpr int kFirstControlId = 100;
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int32_t kRed = 0x0000FF;

// Inside a group box's frame; rows of the frameless texts column use the full width.
constexpr int kFrameMargin = 8;
constexpr int kRadioHeight = 17;
constexpr int kButtonHeight = 25;
constexpr int kFontButtonWidth = 110;
constexpr int kSpinWidth = 80;
constexpr int kSpinHeight = 21;
constexpr int kOkCancelWidth = 81;
constexpr int kOkCancelHeight = 28;

enum FontSlot {
  kDialogFont,
  kVersionFont,
  kTitleFont,
  kMoreInfoUrlFont,
  kCopyrightUrlFont,
  kClockPreviewFont,
  kFilenamePreviewFont,
  kFontSlotCount,
};

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : kUnscaledDpi;
  if (dc != nullptr) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : kUnscaledDpi;
}

// Per-monitor DPI where the system has it (Windows 10 1607 and later), else the screen's.
int WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (get_dpi != nullptr) {
    const UINT dpi = get_dpi(window);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  return ScreenDpi();
}

void AdjustFrameForDpi(RECT* rect, int dpi) {
  using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjust == nullptr ||
      !adjust(rect, kDialogStyle, FALSE, kDialogExStyle, static_cast<UINT>(dpi))) {
    AdjustWindowRectEx(rect, kDialogStyle, FALSE, kDialogExStyle);
  }
}

// Width in 96-dpi pixels of one line of `text`, "&" read as the labels read it.
int MeasureText(const std::string& text, const Font& font) {
  HDC dc = GetDC(nullptr);
  if (dc == nullptr) return 0;
  const LOGFONTA log_font = LogFontOf(font, kUnscaledDpi);
  HFONT handle = CreateFontIndirectA(&log_font);
  HGDIOBJ old = SelectObject(dc, handle);
  RECT rect{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  DeleteObject(handle);
  ReleaseDC(nullptr, dc);
  return rect.right - rect.left;
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const int got = GetWindowTextA(window, &text[0], static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

bool Checked(HWND button) {
  return button != nullptr && SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

class ConfigDialog {
 public:
  ConfigDialog(ConfigModel& model, HWND host, bool has_host)
      : model_(model), host_(host), has_host_(has_host) {
    custom_colors_.fill(RGB(255, 255, 255));
  }
  ~ConfigDialog() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    for (HFONT& font : font_handles_) {
      if (font != nullptr) DeleteObject(font);
    }
    if (swatch_brush_ != nullptr) DeleteObject(swatch_brush_);
  }
  ConfigDialog(const ConfigDialog&) = delete;
  ConfigDialog& operator=(const ConfigDialog&) = delete;

  int Run();

 private:
  struct Placed {
    HWND hwnd;
    RECT rect;  // client pixels at 96 dpi
    int font;
  };
  struct Spin {
    HWND edit;
    HWND updown;
    SpinValue* value;
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  bool CreateDialogWindow();
  void PrepareFonts();
  void BuildControls();
  void BuildRow(const DialogGroup& group, const DialogRow& row);
  HWND Add(const char* window_class, const std::string& text, DWORD style, DWORD ex_style, int x,
           int y, int width, int height, int font = kDialogFont,
           const std::string& name = std::string(), int id = 0);
  void AddRadios(const RadioChoice& choice, std::vector<HWND>* radios, int x, int y, int width,
                 int button_top);
  void AddCheckBox(const DialogControl& control, int x, int y, int width);
  void AddButton(const DialogControl& control, int x, int y, int width, int height);
  void AddSpin(const std::string& name, SpinValue* value, int x, int y, int width);
  void AddSetsList(int x, int y, int width, int height);
  void AddLink(const std::string& name, int font, DWORD align, int x, int y, int width, int height);
  void ApplyDpi(int dpi, const RECT* suggested);
  int Scaled(int pixels) const { return ScaleForDpi(pixels, dpi_); }
  void SetFontSlot(int slot, const Font& font);

  void Command(int id, int code, HWND control);
  void Ok();
  void ReadControls();
  void ClampSpin(const Spin& spin);
  template <typename Chooser>
  BOOL RunChooser(Chooser chooser);
  void ChooseBackgroundColor();
  void ChoosePreviewFont(bool clock);
  void UpdateRadioTabStop(const std::vector<HWND>& radios);
  void DrawPreview(const DRAWITEMSTRUCT& item);
  void DrawTitle(const DRAWITEMSTRUCT& item);
  LRESULT ControlColor(HDC dc, HWND control);
  void RestoreFocus();
  void RestoreHost();

  ConfigModel& model_;
  HWND host_;
  bool has_host_;
  HWND hwnd_ = nullptr;
  RECT work_area_{};
  int dpi_ = kUnscaledDpi;
  int next_id_ = kFirstControlId;
  bool choosing_ = false;  // a colour or font chooser is up
  HWND focus_ = nullptr;   // the focused control while the dialog is not active

  std::vector<Placed> placed_;
  std::map<std::string, HWND> named_;
  std::map<HWND, std::string> links_;
  std::map<HWND, int32_t> text_colors_;
  std::array<Font, kFontSlotCount> fonts_;
  std::array<HFONT, kFontSlotCount> font_handles_{};
  std::vector<std::pair<HWND, bool*>> check_boxes_;  // and the value each edits
  std::map<HWND, const DialogControl*> buttons_;     // the rows' buttons, by what they do
  std::vector<HWND> clock_radios_;
  std::vector<HWND> filename_radios_;
  std::vector<Spin> spins_;
  HWND sets_list_ = nullptr;
  HWND swatch_ = nullptr;
  HBRUSH swatch_brush_ = nullptr;
  HWND clock_preview_ = nullptr;
  HWND filename_preview_ = nullptr;
  HWND title_ = nullptr;
  std::array<COLORREF, 16> custom_colors_{};
};

int ConfigDialog::Run() {
  if (!CreateDialogWindow()) return 1;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    // Tab, the arrows, access keys, Enter (OK) and Escape (Cancel).
    if (hwnd_ != nullptr && IsDialogMessageA(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

bool ConfigDialog::CreateDialogWindow() {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!RegisterProgramClass(kDialogClass, WindowProc, LoadCursorA(nullptr, IDC_ARROW),
                            reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)))) {
    return false;
  }

  // The monitor of the host's window, else the primary one.
  HWND owner = has_host_ && IsWindow(host_) ? host_ : nullptr;
  HMONITOR monitor = owner != nullptr ? MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY)
                                      : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (monitor == nullptr || !GetMonitorInfoA(monitor, &info)) {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &info.rcWork, 0);
  }
  work_area_ = info.rcWork;
  // Made small at the area's centre first, so that it is on that monitor when its DPI is read.
  const RECT start = CenteredIn(work_area_, 1, 1);
  hwnd_ =
      CreateWindowExA(kDialogExStyle, kDialogClass, model_.WindowCaption().c_str(), kDialogStyle,
                      start.left, start.top, 1, 1, owner, nullptr, instance, this);
  if (hwnd_ == nullptr) return false;

  PrepareFonts();
  BuildControls();
  ApplyDpi(WindowDpi(hwnd_), nullptr);
  SetTimer(hwnd_, kClockTimerId, ConfigModel::kClockTimerMs, nullptr);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  RestoreFocus();
  return true;
}

void ConfigDialog::PrepareFonts() {
  const auto measure = [](const std::string& text, const Font& font) {
    return MeasureText(text, font);
  };
  fonts_[kDialogFont] = Font();
  fonts_[kVersionFont] = Font();
  fonts_[kVersionFont].Style = fsBold;
  fonts_[kTitleFont] = ConfigModel::TitleFont();
  FitLabelFont(&fonts_[kTitleFont], model_.Caption("lTitle"), ConfigModel::kClientWidth, measure);
  fonts_[kMoreInfoUrlFont] = ConfigModel::LinkFont("lMoreInfoURL");
  const DialogGroup* general = model_.FindGroup("pGeneral");
  FitLabelFont(&fonts_[kMoreInfoUrlFont], model_.Caption("lMoreInfoURL"),
               general != nullptr ? general->width : ConfigModel::kRightColumnWidth, measure);
  fonts_[kCopyrightUrlFont] = ConfigModel::LinkFont("lCopyrightURL");
  FitLabelFont(&fonts_[kCopyrightUrlFont], model_.Caption("lCopyrightURL"),
               ConfigModel::kClientWidth, measure);
  fonts_[kClockPreviewFont] = model_.ClockFont();
  fonts_[kFilenamePreviewFont] = model_.FilenameFont();
}

HWND ConfigDialog::Add(const char* window_class, const std::string& text, DWORD style,
                       DWORD ex_style, int x, int y, int width, int height, int font,
                       const std::string& name, int id) {
  if (id == 0) id = next_id_++;
  HWND control = CreateWindowExA(
      ex_style, window_class, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
      hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  if (control == nullptr) return nullptr;
  placed_.push_back({control, RECT{x, y, x + width, y + height}, font});
  if (!name.empty()) {
    named_[name] = control;
  }
  return control;
}

// Creation order is the tab order: the left column top to bottom, the right one, the buttons.
void ConfigDialog::BuildControls() {
  const int width = ConfigModel::kClientWidth;
  // The version sits in the title's top right corner: one control draws both.
  AddLink("lTitle", kTitleFont, SS_OWNERDRAW, 0, 0, width, ConfigModel::kTitleHeight);
  title_ = named_["lTitle"];
  HWND disclaimer =
      Add("STATIC", model_.Caption("lDisclaimer"), SS_CENTER, 0, 0, ConfigModel::kTitleHeight,
          width, ConfigModel::kDisclaimerHeight, kDialogFont, "lDisclaimer");
  text_colors_[disclaimer] = kRed;

  for (int column = 0; column < 2; ++column) {
    for (const DialogGroup& group : model_.Groups()) {
      if (group.column != column || !group.visible) continue;
      if (group.control.kind == ControlKind::kGroupBox) {
        Add("BUTTON", group.control.caption, BS_GROUPBOX, 0, group.left, group.top, group.width,
            group.height, kDialogFont, group.control.name);
      }
      for (const DialogRow& row : group.rows) {
        if (row.visible) BuildRow(group, row);
      }
    }
  }

  const int buttons_top = model_.ButtonsTop();
  const int cancel_left = width - kOkCancelWidth - 2 * kFrameMargin;
  Add("BUTTON", model_.Caption("btnOk"), BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 0,
      cancel_left - kOkCancelWidth - kFrameMargin, buttons_top, kOkCancelWidth, kOkCancelHeight,
      kDialogFont, "btnOk", IDOK);
  Add("BUTTON", model_.Caption("btnCancel"), BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, cancel_left,
      buttons_top, kOkCancelWidth, kOkCancelHeight, kDialogFont, "btnCancel", IDCANCEL);
  const int url_top = buttons_top + ConfigModel::kButtonsHeight;
  AddLink("lCopyrightURL", kCopyrightUrlFont, SS_CENTER, 0, url_top, width,
          ConfigModel::kCopyrightUrlHeight);
  Add("STATIC", model_.Caption("lCopyright"), SS_CENTER, 0, 0,
      url_top + ConfigModel::kCopyrightUrlHeight, width, ConfigModel::kCopyrightHeight, kDialogFont,
      "lCopyright");
}

void ConfigDialog::BuildRow(const DialogGroup& group, const DialogRow& row) {
  const int margin = group.control.kind == ControlKind::kGroupBox ? kFrameMargin : 0;
  const int x0 = group.left + margin;
  const int x1 = group.left + group.width - margin;
  const int y = group.top + row.top;
  const int h = row.height;
  // Rows are told apart by the kinds of their controls; the controls carry what they edit.
  const std::vector<DialogControl>& c = row.controls;
  const auto kind = [&c](size_t i) { return i < c.size() ? c[i].kind : ControlKind::kPanel; };
  if (kind(0) == ControlKind::kButton && kind(1) == ControlKind::kColorSwatch) {
    const int button_width = 130;
    AddButton(c[0], x0, y + 4, button_width, kButtonHeight);
    swatch_ = Add("STATIC", "", SS_SUNKEN, 0, x0 + button_width + kFrameMargin, y + 4,
                  x1 - (x0 + button_width + kFrameMargin), kButtonHeight, kDialogFont, c[1].name);
    swatch_brush_ = CreateSolidBrush(ColorRefOf(model_.BackgroundColor()));
  } else if (c.size() == 1 && kind(0) == ControlKind::kCheckBox) {
    AddCheckBox(c[0], x0, y + 2, x1 - x0);
  } else if (kind(0) == ControlKind::kRadioGroup && kind(1) == ControlKind::kButton) {
    const bool clock = c[1].font == PreviewFont::kClock;
    const int button_top = y + h - kButtonHeight - 2;
    AddRadios(*c[0].choice, clock ? &clock_radios_ : &filename_radios_, x0, y + 2, x1 - x0,
              button_top);
    AddButton(c[1], x1 - kFontButtonWidth, button_top, kFontButtonWidth, kButtonHeight);
  } else if (c.size() == 2 && kind(0) == ControlKind::kLabel && kind(1) == ControlKind::kLabel) {
    // A font's preview; its shadow is drawn with it.
    const bool clock = c[1].font == PreviewFont::kClock;
    HWND preview = Add("STATIC", "", SS_OWNERDRAW, 0, x0, y + 2, x1 - x0, h - 4,
                       clock ? kClockPreviewFont : kFilenamePreviewFont, c[1].name);
    (clock ? clock_preview_ : filename_preview_) = preview;
  } else if (c.size() == 2 && kind(0) == ControlKind::kLabel && kind(1) == ControlKind::kSpinEdit) {
    Add("STATIC", c[0].caption, SS_LEFT, 0, x0, y + 7, x1 - x0 - kSpinWidth - 4, 16, kDialogFont,
        c[0].name);
    AddSpin(c[1].name, c[1].spin, x1 - kSpinWidth, y + 4, kSpinWidth);
  } else if (c.size() == 3 && kind(1) == ControlKind::kSpinEdit) {
    // "Change set after [n] seconds": the label as wide as its text.
    const int spin_width = 70;
    const int label_width =
        std::min(MeasureText(c[0].caption, fonts_[kDialogFont]) + 4, x1 - x0 - spin_width - 40);
    Add("STATIC", c[0].caption, SS_LEFT, 0, x0, y + 7, label_width, 16, kDialogFont, c[0].name);
    AddSpin(c[1].name, c[1].spin, x0 + label_width, y + 4, spin_width);
    const int after_left = x0 + label_width + spin_width + 4;
    Add("STATIC", c[2].caption, SS_LEFT, 0, after_left, y + 7, x1 - after_left, 16, kDialogFont,
        c[2].name);
  } else if (kind(0) == ControlKind::kCheckList) {
    AddSetsList(x0, y, x1 - x0, h - 4);
  } else if (c.size() == 1 && kind(0) == ControlKind::kLabel) {
    Add("STATIC", c[0].caption, c[0].left_aligned ? SS_LEFT : SS_CENTER, 0, x0, y, x1 - x0, h,
        kDialogFont, c[0].name);
  } else if (kind(0) == ControlKind::kLinkLabel) {
    AddLink(c[0].name, kMoreInfoUrlFont, SS_CENTER, x0, y, x1 - x0, h);
  }
}

void ConfigDialog::AddButton(const DialogControl& control, int x, int y, int width, int height) {
  HWND button = Add("BUTTON", control.caption, BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, x, y,
                    width, height, kDialogFont, control.name);
  buttons_[button] = &control;
}

void ConfigDialog::AddRadios(const RadioChoice& choice, std::vector<HWND>* radios, int x, int y,
                             int width, int button_top) {
  const StringArray& items = choice.items();
  for (size_t i = 0; i < items.size(); ++i) {
    const int top = y + static_cast<int>(i) * kRadioHeight;
    // Items that reach down to the button leave room for it.
    const int item_width = top + kRadioHeight > button_top ? width - kFontButtonWidth - 4 : width;
    HWND radio = Add("BUTTON", items[i], BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0), 0, x, top,
                     item_width, kRadioHeight);
    if (static_cast<int32_t>(i) == choice.index()) {
      SendMessageA(radio, BM_SETCHECK, BST_CHECKED, 0);
    }
    radios->push_back(radio);
  }
  UpdateRadioTabStop(*radios);
}

// Tab enters a radio group at its checked item (the first when none is).
void ConfigDialog::UpdateRadioTabStop(const std::vector<HWND>& radios) {
  size_t stop = 0;
  for (size_t i = 0; i < radios.size(); ++i) {
    if (Checked(radios[i])) stop = i;
  }
  for (size_t i = 0; i < radios.size(); ++i) {
    const LONG_PTR style = GetWindowLongPtrA(radios[i], GWL_STYLE);
    SetWindowLongPtrA(radios[i], GWL_STYLE, i == stop ? style | WS_TABSTOP : style & ~WS_TABSTOP);
  }
}

void ConfigDialog::AddCheckBox(const DialogControl& control, int x, int y, int width) {
  HWND box = Add("BUTTON", control.caption, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 0, x, y, width,
                 18, kDialogFont, control.name);
  SendMessageA(box, BM_SETCHECK, *control.flag ? BST_CHECKED : BST_UNCHECKED, 0);
  check_boxes_.emplace_back(box, control.flag);
}

void ConfigDialog::AddSpin(const std::string& name, SpinValue* value, int x, int y, int width) {
  HWND edit = Add("EDIT", std::to_string(value->value()), ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP,
                  WS_EX_CLIENTEDGE, x, y, width, kSpinHeight, kDialogFont, name);
  HWND updown =
      CreateWindowExA(0, UPDOWN_CLASSA, "",
                      WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS |
                          UDS_NOTHOUSANDS | UDS_HOTTRACK,
                      0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(next_id_++)),
                      GetModuleHandleA(nullptr), nullptr);
  if (edit == nullptr || updown == nullptr) return;
  SendMessageA(updown, UDM_SETRANGE32, static_cast<WPARAM>(value->min()),
               static_cast<LPARAM>(value->max()));
  SendMessageA(updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  SendMessageA(updown, UDM_SETPOS32, 0, static_cast<LPARAM>(value->value()));
  spins_.push_back({edit, updown, value});
}

void ConfigDialog::AddSetsList(int x, int y, int width, int height) {
  sets_list_ = Add(
      WC_LISTVIEWA, "",
      LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_GROUP,
      WS_EX_CLIENTEDGE, x, y, width, height, kDialogFont, "clbSets");
  if (sets_list_ == nullptr) return;
  const LPARAM extended = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;
  SendMessageA(sets_list_, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  LVCOLUMNA column{};
  column.mask = LVCF_WIDTH;
  column.cx = width;
  SendMessageA(sets_list_, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  const std::vector<SetEntry>& sets = model_.Sets();
  for (size_t i = 0; i < sets.size(); ++i) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<char*>(sets[i].name.c_str());
    SendMessageA(sets_list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    LVITEMA state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(sets[i].ticked ? 2 : 1);
    SendMessageA(sets_list_, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
  }
  if (!sets.empty()) {
    // The keyboard starts at the first entry.
    LVITEMA focus{};
    focus.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    focus.state = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageA(sets_list_, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&focus));
  }
}

void ConfigDialog::AddLink(const std::string& name, int font, DWORD align, int x, int y, int width,
                           int height) {
  HWND link =
      Add("STATIC", model_.Caption(name), align | SS_NOTIFY, 0, x, y, width, height, font, name);
  if (link == nullptr) return;
  links_[link] = name;
  text_colors_[link] = fonts_[font].Color;
}

void ConfigDialog::ApplyDpi(int dpi, const RECT* suggested) {
  dpi_ = dpi;
  std::array<HFONT, kFontSlotCount> old = font_handles_;
  for (int slot = 0; slot < kFontSlotCount; ++slot) {
    const LOGFONTA log_font = LogFontOf(fonts_[slot], dpi_);
    font_handles_[slot] = CreateFontIndirectA(&log_font);
  }
  for (const Placed& placed : placed_) {
    MoveWindow(placed.hwnd, Scaled(placed.rect.left), Scaled(placed.rect.top),
               Scaled(placed.rect.right) - Scaled(placed.rect.left),
               Scaled(placed.rect.bottom) - Scaled(placed.rect.top), FALSE);
    SendMessageA(placed.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_handles_[placed.font]),
                 FALSE);
  }
  // The arrows take their place beside the moved edit again.
  for (const Spin& spin : spins_) {
    SendMessageA(spin.updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(spin.edit), 0);
  }
  if (sets_list_ != nullptr) {
    SendMessageA(sets_list_, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
  }
  for (HFONT font : old) {
    if (font != nullptr) DeleteObject(font);
  }

  RECT frame{0, 0, Scaled(ConfigModel::kClientWidth), Scaled(model_.ClientHeight())};
  AdjustFrameForDpi(&frame, dpi_);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const RECT at = suggested != nullptr ? *suggested : CenteredIn(work_area_, width, height);
  SetWindowPos(hwnd_, nullptr, at.left, at.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void ConfigDialog::SetFontSlot(int slot, const Font& font) {
  fonts_[slot] = font;
  const LOGFONTA log_font = LogFontOf(font, dpi_);
  HFONT old = font_handles_[slot];
  font_handles_[slot] = CreateFontIndirectA(&log_font);
  for (const Placed& placed : placed_) {
    if (placed.font != slot) continue;
    SendMessageA(placed.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_handles_[slot]), FALSE);
    InvalidateRect(placed.hwnd, nullptr, TRUE);
  }
  if (old != nullptr) DeleteObject(old);
}

void ConfigDialog::Command(int id, int code, HWND control) {
  if (choosing_) return;
  if (id == IDOK) {
    Ok();
    return;
  }
  if (id == IDCANCEL) {
    // Nothing copied: closing the settings writes back what was loaded.
    DestroyWindow(hwnd_);
    return;
  }
  if (code == EN_KILLFOCUS) {
    for (const Spin& spin : spins_) {
      if (spin.edit == control) ClampSpin(spin);
    }
    return;
  }
  if (code != BN_CLICKED) return;  // also STN_CLICKED
  const auto link = links_.find(control);
  if (link != links_.end()) {
    const std::string address = model_.LinkFor(link->second);
    if (!address.empty()) {
      ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
    return;
  }
  const auto button = buttons_.find(control);
  const ControlAction action =
      button != buttons_.end() ? button->second->action : ControlAction::kNone;
  if (action == ControlAction::kChooseColor) {
    ChooseBackgroundColor();
  } else if (action == ControlAction::kChooseFont) {
    ChoosePreviewFont(button->second->font == PreviewFont::kClock);
  } else {
    for (const std::vector<HWND>* radios : {&clock_radios_, &filename_radios_}) {
      for (HWND radio : *radios) {
        if (radio == control) UpdateRadioTabStop(*radios);
      }
    }
  }
}

void ConfigDialog::ClampSpin(const Spin& spin) {
  spin.value->SetText(WindowText(spin.edit));
  const std::string shown = std::to_string(spin.value->value());
  if (WindowText(spin.edit) != shown) SetWindowTextA(spin.edit, shown.c_str());
  SendMessageA(spin.updown, UDM_SETPOS32, 0, static_cast<LPARAM>(spin.value->value()));
}

void ConfigDialog::ReadControls() {
  const auto selected = [](const std::vector<HWND>& radios) {
    for (size_t i = 0; i < radios.size(); ++i) {
      if (Checked(radios[i])) return static_cast<int32_t>(i);
    }
    return int32_t{-1};
  };
  // Rows the data file hides have no controls: the model keeps their loaded values.
  if (!clock_radios_.empty()) model_.ClockChoice().Select(selected(clock_radios_));
  if (!filename_radios_.empty()) model_.FilenameChoice().Select(selected(filename_radios_));
  for (const auto& [box, field] : check_boxes_) *field = Checked(box);
  for (const Spin& spin : spins_) ClampSpin(spin);
  if (sets_list_ != nullptr) {
    for (size_t i = 0; i < model_.Sets().size(); ++i) {
      const LRESULT state =
          SendMessageA(sets_list_, LVM_GETITEMSTATE, i, static_cast<LPARAM>(LVIS_STATEIMAGEMASK));
      model_.SetTicked(i, (static_cast<UINT>(state) & LVIS_STATEIMAGEMASK) ==
                              static_cast<UINT>(INDEXTOSTATEIMAGEMASK(2)));
    }
  }
}

void ConfigDialog::Ok() {
  ReadControls();
  model_.Ok();
  DestroyWindow(hwnd_);
}

template <typename Chooser>
BOOL ConfigDialog::RunChooser(Chooser chooser) {
  choosing_ = true;
  const BOOL chosen = chooser();
  // The key that closed the chooser must not go on to close the dialog too: under Wine, Enter
  // in the font chooser's size box otherwise reaches the dialog's OK as well.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  choosing_ = false;
  return chosen;
}

void ConfigDialog::ChooseBackgroundColor() {
  CHOOSECOLORA chooser{};
  chooser.lStructSize = sizeof(chooser);
  chooser.hwndOwner = hwnd_;
  // Its own last colour, not the swatch's.
  chooser.rgbResult = ColorRefOf(model_.ColorChooserColor());
  chooser.lpCustColors = custom_colors_.data();
  chooser.Flags = CC_RGBINIT;
  const BOOL chosen = RunChooser([&] { return ChooseColorA(&chooser); });
  if (!chosen) return;
  model_.ChooseBackgroundColor(static_cast<int32_t>(chooser.rgbResult & 0xFFFFFF));
  HBRUSH old = swatch_brush_;
  swatch_brush_ = CreateSolidBrush(ColorRefOf(model_.BackgroundColor()));
  if (swatch_ != nullptr) InvalidateRect(swatch_, nullptr, TRUE);
  if (old != nullptr) DeleteObject(old);
}

void ConfigDialog::ChoosePreviewFont(bool clock) {
  const Font before = clock ? model_.ClockFont() : model_.FilenameFont();
  // The chooser reads and gives heights in the screen's pixels.
  const int dpi = ScreenDpi();
  LOGFONTA log_font = LogFontOf(before, dpi);
  CHOOSEFONTA chooser{};
  chooser.lStructSize = sizeof(chooser);
  chooser.hwndOwner = hwnd_;
  chooser.lpLogFont = &log_font;
  chooser.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_FORCEFONTEXIST | CF_INITTOLOGFONTSTRUCT;
  chooser.rgbColors = ColorRefOf(before.Color);
  if (!RunChooser([&] { return ChooseFontA(&chooser); })) return;
  const Font chosen = FontOfLogFont(log_font, chooser.rgbColors, dpi, before);
  if (clock) {
    model_.SetClockFont(chosen);
  } else {
    model_.SetFilenameFont(chosen);
  }
  SetFontSlot(clock ? kClockPreviewFont : kFilenamePreviewFont, chosen);
}

// The label over its shadow, one pixel right and down, in black.
void ConfigDialog::DrawPreview(const DRAWITEMSTRUCT& item) {
  const bool clock = item.hwndItem == clock_preview_;
  const std::string text = model_.Caption(clock ? "lClock" : "lFilename");
  const Font& font = fonts_[clock ? kClockPreviewFont : kFilenamePreviewFont];
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ old = SelectObject(dc, font_handles_[clock ? kClockPreviewFont : kFilenamePreviewFont]);
  SetBkMode(dc, TRANSPARENT);
  const int offset = std::max(1, Scaled(1));
  RECT shadow = rect;
  OffsetRect(&shadow, offset, offset);
  const UINT format = DT_LEFT | DT_TOP | DT_SINGLELINE;
  SetTextColor(dc, ColorRefOf(ConfigModel::ShadowFont(font).Color));
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &shadow, format);
  SetTextColor(dc, ColorRefOf(font.Color));
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
  SelectObject(dc, old);
}

// The title centred in the label (a big face's cell is a little taller than it), the version
// right-aligned over its top right corner.
void ConfigDialog::DrawTitle(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = SelectObject(dc, font_handles_[kTitleFont]);
  const std::string title = model_.Caption("lTitle");
  SetTextColor(dc, ColorRefOf(fonts_[kTitleFont].Color));
  DrawTextA(dc, title.c_str(), static_cast<int>(title.size()), &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, font_handles_[kVersionFont]);
  const std::string version = model_.Caption("lVersion");
  RECT corner = rect;
  corner.right -= Scaled(4);
  corner.top += Scaled(2);
  SetTextColor(dc, ColorRefOf(fonts_[kVersionFont].Color));
  DrawTextA(dc, version.c_str(), static_cast<int>(version.size()), &corner,
            DT_RIGHT | DT_TOP | DT_SINGLELINE);
  SelectObject(dc, old);
}

LRESULT ConfigDialog::ControlColor(HDC dc, HWND control) {
  if (control == swatch_ && swatch_brush_ != nullptr) {
    return reinterpret_cast<LRESULT>(swatch_brush_);
  }
  const auto color = text_colors_.find(control);
  SetTextColor(
      dc, color != text_colors_.end() ? ColorRefOf(color->second) : GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void ConfigDialog::RestoreFocus() {
  HWND focus = focus_ != nullptr && IsWindow(focus_) && IsChild(hwnd_, focus_)
                   ? focus_
                   : GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (focus != nullptr) SetFocus(focus);
}

void ConfigDialog::RestoreHost() {
  if (!has_host_) return;
  HWND window = WindowToRestore(host_);
  if (window == nullptr) return;
  EnableWindow(window, TRUE);
  SetForegroundWindow(window);
}

LRESULT CALLBACK ConfigDialog::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ConfigDialog*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    if (self != nullptr && self->hwnd_ == hwnd) self->hwnd_ = nullptr;
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  if (self == nullptr || (self->hwnd_ != nullptr && self->hwnd_ != hwnd)) {
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  // Messages sent while CreateWindowExA runs come before it returns the handle.
  if (self->hwnd_ == nullptr) self->hwnd_ = hwnd;
  return self->Handle(message, wparam, lparam);
}

LRESULT ConfigDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_ACTIVATE:
      // As a dialog box does: the focused control is kept while another window (a chooser) is
      // active, and gets the focus back afterwards.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) focus_ = focus;
        return 0;
      }
      RestoreFocus();
      return 0;
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    case WM_SETCURSOR:
      if (links_.count(reinterpret_cast<HWND>(wparam)) != 0) {
        SetCursor(LoadCursorA(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
      return ControlColor(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->hwndItem == clock_preview_ || item->hwndItem == filename_preview_) {
        DrawPreview(*item);
        return TRUE;
      }
      if (item->hwndItem == title_) {
        DrawTitle(*item);
        return TRUE;
      }
      break;
    }
    case WM_TIMER:
      if (wparam == kClockTimerId) {
        model_.ClockTick(true);
        if (clock_preview_ != nullptr) InvalidateRect(clock_preview_, nullptr, FALSE);
        return 0;
      }
      break;
    case 0x02E0: {  // WM_DPICHANGED: the dialog moved to a monitor of another scale
      ApplyDpi(HIWORD(wparam), reinterpret_cast<const RECT*>(lparam));
      return 0;
    }
    case WM_DESTROY:
      KillTimer(hwnd_, kClockTimerId);
      RestoreHost();
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, message, wparam, lparam);
}

}  // namespace

Font FontOfLogFont(const LOGFONTA& log_font, COLORREF color, int dpi, const Font& before) {
  Font font = before;
  // A chooser that could not show the face (not installed) may hand back no face at all: the
  // font keeps its own rather than losing it.
  const size_t face_length = strnlen(log_font.lfFaceName, LF_FACESIZE);
  if (face_length > 0) font.Name.assign(log_font.lfFaceName, face_length);
  font.Height = dpi > 0 ? MulDiv(log_font.lfHeight, kUnscaledDpi, dpi) : log_font.lfHeight;
  font.Charset = log_font.lfCharSet;
  // Semi-bold faces count as bold: the style set has nothing between.
  font.Style = static_cast<FontStyles>(
      (log_font.lfWeight >= FW_SEMIBOLD ? fsBold : 0) | (log_font.lfItalic ? fsItalic : 0) |
      (log_font.lfUnderline ? fsUnderline : 0) | (log_font.lfStrikeOut ? fsStrikeOut : 0));
  if (color != ColorRefOf(before.Color)) font.Color = static_cast<int32_t>(color & 0xFFFFFFu);
  return font;
}

HWND WindowToRestore(HWND host) {
  if (host == nullptr) return nullptr;
  HWND parent = GetParent(host);
  return parent != nullptr ? parent : host;
}

RECT CenteredIn(const RECT& area, int width, int height) {
  const int left = area.left + std::max(0, static_cast<int>((area.right - area.left - width) / 2));
  const int top = area.top + std::max(0, static_cast<int>((area.bottom - area.top - height) / 2));
  return RECT{left, top, left + width, top + height};
}

int RunConfigDialog(const CommandLine& command_line, HWND app_window, bool second_instance) {
  HWND host = reinterpret_cast<HWND>(static_cast<uintptr_t>(command_line.parent_window));
  Win32DataFileHost data_host(app_window, false);
  // A missing or damaged data file ends the process in here, through the host.
  ZipFileSettings data_file(data_host, SaverMode::smConfigure);
  data_file.ListSets();
  RegistryValueStore store;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<ConfigModel> model;
  try {
    settings = std::make_unique<Settings>(data_file, store);
    model =
        std::make_unique<ConfigModel>(data_file.Settings(), ListedSetNames(data_file), *settings);
  } catch (const std::exception& e) {
    data_host.ShowError(e.what());
    return 1;
  }
  model->SetLocalTimeSource(UserLongTimeText);
  model->ClockTick(false);
  int code = 0;
  if (!second_instance) {
    ConfigDialog dialog(*model, host, command_line.parent_window != 0);
    code = dialog.Run();
  }
  // Settings that could not be written are a failure, whatever the dialog answered (as on Linux).
  try {
    settings->Close();
  } catch (const std::exception& e) {
    data_host.ShowError(e.what());
    return 1;
  }
  return code;
}

}  // namespace quenvale
