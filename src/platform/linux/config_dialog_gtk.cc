#include "platform/linux/config_dialog_gtk.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "config/config_model.h"
#include "platform/linux/gtk_mapping.h"
#include "platform/linux/gtk_message_box.h"
#include "settings/settings.h"

namespace quenvale {

namespace {

// The controls are placed at the pixel positions of a dialog drawn with an 11-pixel font, so
// the theme's font and paddings are brought down to that scale.
constexpr char kDialogCss[] =
    "window.quenvale-config, window.quenvale-config * {"
    "  font-family: \"MS Sans Serif\", \"Liberation Sans\", Arial, sans-serif;"
    "  font-size: 7.5pt; }"
    "window.quenvale-config button { min-height: 0; min-width: 0; padding: 1px 4px; }"
    "window.quenvale-config spinbutton { min-height: 0; }"
    "window.quenvale-config spinbutton entry { min-height: 0; min-width: 0; padding: 0 3px; }"
    "window.quenvale-config spinbutton button { min-height: 0; min-width: 0; padding: 0 1px; }"
    "window.quenvale-config checkbutton, window.quenvale-config radiobutton {"
    "  min-height: 0; padding: 0; }"
    "window.quenvale-config check, window.quenvale-config radio {"
    "  min-width: 12px; min-height: 12px; margin: 0 3px 0 0; -gtk-icon-transform: scale(0.75); }"
    "window.quenvale-config list row { min-height: 0; padding: 0 2px; }";

constexpr int kRowMargin = 8;  // a row's controls from its group's frame
constexpr int kButtonHeight = 25;
constexpr int kSpinWidth = 70;
constexpr int kFontButtonWidth = 66;  // beside a radio group, its caption in two lines
constexpr int kFontButtonHeight = 36;
constexpr int kUnitLabelWidth = 44;  // "seconds" after the set time
// Where a button keeps the model's control it stands for.
constexpr char kControlKey[] = "quenvale-control";
constexpr int kDialogButtonWidth = 81;
constexpr int kDialogButtonHeight = 28;
constexpr int kVersionWidth = 160;

void SetLabelFont(GtkWidget* label, const Font& font) {
  PangoAttrList* attributes = pango_attr_list_new();
  PangoFontDescription* description = FontToPango(font);
  pango_attr_list_insert(attributes, pango_attr_font_desc_new(description));
  pango_font_description_free(description);
  const GdkRGBA color = ColorToRgba(font.Color);
  pango_attr_list_insert(attributes,
                         pango_attr_foreground_new(static_cast<guint16>(color.red * 65535),
                                                   static_cast<guint16>(color.green * 65535),
                                                   static_cast<guint16>(color.blue * 65535)));
  if (font.Style & fsUnderline) {
    pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  }
  if (font.Style & fsStrikeOut) {
    pango_attr_list_insert(attributes, pango_attr_strikethrough_new(TRUE));
  }
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
}

// A label whose width is exactly what it is given: long text is cut short with "..." or, when
// `wrap`, broken into lines.
GtkWidget* NewLabel(const std::string& text, float xalign, bool wrap) {
  GtkWidget* label = gtk_label_new(DialogText(text).c_str());
  gtk_label_set_xalign(GTK_LABEL(label), xalign);
  gtk_label_set_yalign(GTK_LABEL(label), wrap ? 0.0f : 0.5f);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
  if (wrap) {
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_justify(GTK_LABEL(label), xalign == 0.5f ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
  } else {
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
  }
  return label;
}

// Keeps a button's caption within the button's own width.
void FitButtonCaption(GtkWidget* button) {
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(button));
  if (child != nullptr && GTK_IS_LABEL(child)) {
    gtk_label_set_ellipsize(GTK_LABEL(child), PANGO_ELLIPSIZE_END);
    gtk_label_set_max_width_chars(GTK_LABEL(child), 1);
  }
}

void Place(GtkWidget* layout, GtkWidget* widget, int x, int y, int width, int height) {
  gtk_widget_set_size_request(widget, width, height);
  gtk_layout_put(GTK_LAYOUT(layout), widget, x, y);
}

// A layout of a fixed size: what its children draw beyond it is cut off.
GtkWidget* NewArea(int width, int height) {
  GtkWidget* area = gtk_layout_new(nullptr, nullptr);
  gtk_layout_set_size(GTK_LAYOUT(area), width, height);
  return area;
}

class ConfigDialog {
 public:
  explicit ConfigDialog(ConfigModel& model) : model_(model) {}
  ConfigDialog(const ConfigDialog&) = delete;
  ConfigDialog& operator=(const ConfigDialog&) = delete;
  ~ConfigDialog() {
    if (clock_timer_ != 0) g_source_remove(clock_timer_);
    if (window_ != nullptr) gtk_widget_destroy(window_);
  }

  // Shows the dialog and returns when it is closed; true after OK.
  bool Run(uint32_t parent_window);

 private:
  struct Spin {
    GtkWidget* widget;
    SpinValue* value;
  };
  struct Choice {
    RadioChoice* choice;
    int32_t index;
  };
  struct Tick {
    ConfigDialog* dialog;
    size_t index;
  };

  void Build();
  void BuildGroup(GtkWidget* column, int column_left, const DialogGroup& group);
  void BuildRow(GtkWidget* column, int x, int y, int width, const DialogRow& row);
  GtkWidget* NewLinkLabel(const std::string& name, const Font& font, int width);
  GtkWidget* NewButton(const DialogControl& control);
  GtkWidget* NewCheckBox(const DialogControl& control);
  GtkWidget* NewSpin(const DialogControl& control);
  GtkWidget* NewRadioGroup(const DialogControl& control);
  GtkWidget* NewSetsList();
  GtkWidget* NewPreview(const DialogControl& shadow, const DialogControl& label, int width,
                        int height);
  void SetTransientFor(uint32_t parent_window);
  void ApplyPreviewFonts();
  void Close(bool ok);

  static void OnButton(GtkWidget* button, gpointer self);
  static void OnToggled(GtkToggleButton* button, gpointer field);
  static void OnRadio(GtkToggleButton* button, gpointer choice);
  static void OnSetTicked(GtkToggleButton* button, gpointer tick);
  static void OnSpinChanged(GtkSpinButton* spin, gpointer value);
  static gint OnSpinInput(GtkSpinButton* spin, gdouble* new_value, gpointer value);
  static gboolean OnLinkClicked(GtkWidget* box, GdkEventButton* event, gpointer self);
  static void OnLinkRealized(GtkWidget* box, gpointer);
  static gboolean OnDrawSwatch(GtkWidget* area, cairo_t* cr, gpointer self);
  static gboolean OnClockTimer(gpointer self);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);

  void ChooseColor();
  void ChooseFont(bool clock);

  ConfigModel& model_;
  GtkWidget* window_ = nullptr;
  GtkWidget* swatch_ = nullptr;
  GtkWidget* clock_ = nullptr;
  GtkWidget* clock_shadow_ = nullptr;
  GtkWidget* filename_ = nullptr;
  GtkWidget* filename_shadow_ = nullptr;
  std::vector<Spin> spins_;
  std::vector<std::unique_ptr<Choice>> choices_;
  std::vector<std::unique_ptr<Tick>> ticks_;
  guint clock_timer_ = 0;
  bool ok_ = false;
};

bool ConfigDialog::Run(uint32_t parent_window) {
  Build();
  gtk_widget_realize(window_);
  if (parent_window != 0) SetTransientFor(parent_window);
  gtk_widget_show_all(window_);
  clock_timer_ = g_timeout_add(ConfigModel::kClockTimerMs, OnClockTimer, this);
  gtk_main();
  return ok_;
}

void ConfigDialog::SetTransientFor(uint32_t parent_window) {
  // Best effort: a window id that names no window, or a display that is not X11, is ignored.
  GdkDisplay* display = gtk_widget_get_display(window_);
  if (!GDK_IS_X11_DISPLAY(display)) return;
  GdkWindow* parent = gdk_x11_window_foreign_new_for_display(display, parent_window);
  if (parent == nullptr) return;
  gdk_window_set_transient_for(gtk_widget_get_window(window_), parent);
  g_object_unref(parent);
}

void ConfigDialog::Build() {
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kDialogCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_style_context_add_class(gtk_widget_get_style_context(window_), "quenvale-config");
  gtk_window_set_title(GTK_WINDOW(window_), DialogText(model_.WindowCaption()).c_str());
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);

  const int width = ConfigModel::kClientWidth;
  const int height = model_.ClientHeight();
  GtkWidget* root = NewArea(width, height);
  gtk_widget_set_size_request(root, width, height);
  gtk_container_add(GTK_CONTAINER(window_), root);

  // Children are added top to bottom, which is also the order Tab walks them in.
  GtkWidget* title = NewLinkLabel("lTitle", ConfigModel::TitleFont(), width);
  Place(root, title, 0, 0, width, ConfigModel::kTitleHeight);
  GtkWidget* version = NewLabel(model_.Caption("lVersion"), 1.0f, false);
  Font version_font;
  version_font.Style = fsBold;
  version_font.Color = clBlack;
  SetLabelFont(version, version_font);
  Place(root, version, width - kVersionWidth - 4, 2, kVersionWidth, 16);
  GtkWidget* disclaimer = NewLabel(model_.Caption("lDisclaimer"), 0.5f, true);
  Font disclaimer_font;
  disclaimer_font.Color = 0x0000FF;
  SetLabelFont(disclaimer, disclaimer_font);
  GtkWidget* disclaimer_area = NewArea(width, ConfigModel::kDisclaimerHeight);
  Place(disclaimer_area, disclaimer, 4, 0, width - 8, ConfigModel::kDisclaimerHeight);
  Place(root, disclaimer_area, 0, ConfigModel::kTitleHeight, width, ConfigModel::kDisclaimerHeight);

  // One container per column, so that Tab finishes the left column before the right one.
  const int columns_height = std::max(1, model_.ButtonsTop() - model_.ColumnsTop());
  const int left_width = ConfigModel::kClientWidth - ConfigModel::kRightColumnWidth;
  GtkWidget* columns[2] = {NewArea(left_width, columns_height),
                           NewArea(ConfigModel::kRightColumnWidth, columns_height)};
  for (const DialogGroup& group : model_.Groups()) {
    if (!group.visible) continue;
    BuildGroup(columns[group.column], group.column == 0 ? 0 : left_width, group);
  }
  Place(root, columns[0], 0, model_.ColumnsTop(), left_width, columns_height);
  Place(root, columns[1], left_width, model_.ColumnsTop(), ConfigModel::kRightColumnWidth,
        columns_height);

  const int buttons_top = model_.ButtonsTop();
  GtkWidget* ok = NewButton(*model_.FindControl("btnOk"));
  GtkWidget* cancel = NewButton(*model_.FindControl("btnCancel"));
  Place(root, ok, width - 2 * kDialogButtonWidth - 16, buttons_top, kDialogButtonWidth,
        kDialogButtonHeight);
  Place(root, cancel, width - kDialogButtonWidth - 8, buttons_top, kDialogButtonWidth,
        kDialogButtonHeight);

  const int copyright_url_top = buttons_top + ConfigModel::kButtonsHeight;
  Place(root, NewLinkLabel("lCopyrightURL", ConfigModel::LinkFont("lCopyrightURL"), width), 0,
        copyright_url_top, width, ConfigModel::kCopyrightUrlHeight);
  GtkWidget* copyright = NewLabel(model_.Caption("lCopyright"), 0.5f, false);
  Font copyright_font;
  copyright_font.Color = clBlack;
  SetLabelFont(copyright, copyright_font);
  Place(root, copyright, 0, copyright_url_top + ConfigModel::kCopyrightUrlHeight, width,
        ConfigModel::kCopyrightHeight);
}

void ConfigDialog::BuildGroup(GtkWidget* column, int column_left, const DialogGroup& group) {
  const int x = group.left - column_left;
  const int y = group.top - model_.ColumnsTop();
  if (group.control.kind == ControlKind::kGroupBox) {
    GtkWidget* frame = gtk_frame_new(nullptr);
    GtkWidget* caption = gtk_label_new(PlainCaption(group.control.caption).c_str());
    gtk_frame_set_label_widget(GTK_FRAME(frame), caption);
    Place(column, frame, x, y, group.width, group.height);
  }
  const bool framed = group.control.kind == ControlKind::kGroupBox;
  const int margin = framed ? kRowMargin : 2;
  for (const DialogRow& row : group.rows) {
    if (!row.visible) continue;
    BuildRow(column, x + margin, y + row.top, group.width - 2 * margin, row);
  }
}

void ConfigDialog::BuildRow(GtkWidget* column, int x, int y, int width, const DialogRow& row) {
  const std::vector<DialogControl>& controls = row.controls;
  const int height = row.height;
  auto kind = [&](size_t i) {
    return i < controls.size() ? controls[i].kind : ControlKind::kPanel;
  };
  if (controls.size() == 2 && kind(0) == ControlKind::kButton &&
      kind(1) == ControlKind::kColorSwatch) {
    const int swatch_width = 50;
    Place(column, NewButton(controls[0]), x, y + 4, width - swatch_width - 8, kButtonHeight);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    swatch_ = gtk_drawing_area_new();
    g_signal_connect(swatch_, "draw", G_CALLBACK(OnDrawSwatch), this);
    gtk_container_add(GTK_CONTAINER(frame), swatch_);
    Place(column, frame, x + width - swatch_width, y + 4, swatch_width, kButtonHeight);
  } else if (controls.size() == 1 && kind(0) == ControlKind::kCheckBox) {
    Place(column, NewCheckBox(controls[0]), x, y + 2, width, height - 4);
  } else if (controls.size() == 2 && kind(0) == ControlKind::kRadioGroup) {
    const int group_width = width - kFontButtonWidth - 4;
    Place(column, NewRadioGroup(controls[0]), x, y, group_width, height - 4);
    GtkWidget* button = NewButton(controls[1]);
    GtkWidget* caption = gtk_bin_get_child(GTK_BIN(button));
    if (caption != nullptr && GTK_IS_LABEL(caption)) {
      gtk_label_set_ellipsize(GTK_LABEL(caption), PANGO_ELLIPSIZE_NONE);
      gtk_label_set_line_wrap(GTK_LABEL(caption), TRUE);
      gtk_label_set_justify(GTK_LABEL(caption), GTK_JUSTIFY_CENTER);
    }
    Place(column, button, x + group_width + 4, y + (height - 4 - kFontButtonHeight) / 2,
          kFontButtonWidth, kFontButtonHeight);
  } else if (controls.size() == 2 && kind(0) == ControlKind::kLabel &&
             kind(1) == ControlKind::kLabel) {
    // The preview: the label over its shadow, both in one area.
    GtkWidget* area = NewPreview(controls[0], controls[1], width, height - 4);
    Place(column, area, x, y + 2, width, height - 4);
  } else if (kind(0) == ControlKind::kLabel && kind(1) == ControlKind::kSpinEdit) {
    GtkWidget* spin = NewSpin(controls[1]);
    GtkWidget* label = gtk_label_new_with_mnemonic(MnemonicLabel(controls[0].caption).c_str());
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), spin);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
    const int spin_top = y + (height - 24) / 2;
    if (controls.size() == 3) {
      // "Change set after [n] seconds"
      const int first_width = width - kSpinWidth - kUnitLabelWidth - 8;
      Place(column, label, x, spin_top, first_width, 24);
      Place(column, spin, x + first_width + 2, spin_top, kSpinWidth, 24);
      GtkWidget* after = NewLabel(controls[2].caption, 0.0f, false);
      Place(column, after, x + width - kUnitLabelWidth, spin_top, kUnitLabelWidth, 24);
    } else {
      Place(column, label, x, spin_top, width - kSpinWidth - 4, 24);
      Place(column, spin, x + width - kSpinWidth, spin_top, kSpinWidth, 24);
    }
  } else if (controls.size() == 1 && kind(0) == ControlKind::kCheckList) {
    Place(column, NewSetsList(), x, y, width, height - 2);
  } else if (controls.size() == 1 && kind(0) == ControlKind::kLinkLabel) {
    const std::string& name = controls[0].name;
    Place(column, NewLinkLabel(name, ConfigModel::LinkFont(name), width), x, y, width, height);
  } else if (controls.size() == 1 && kind(0) == ControlKind::kLabel) {
    // The texts of the right column: the help text reads left-aligned, the rest centred.
    GtkWidget* label = NewLabel(controls[0].caption, controls[0].left_aligned ? 0.0f : 0.5f, true);
    GtkWidget* area = NewArea(width, height);
    Place(area, label, 0, 0, width, height);
    Place(column, area, x, y, width, height);
  } else {
    // Not a row this dialog knows: its captions at least.
    int left = x;
    const int each = controls.empty() ? width : width / static_cast<int>(controls.size());
    for (const DialogControl& control : controls) {
      Place(column, NewLabel(control.caption, 0.0f, false), left, y, each, height);
      left += each;
    }
  }
}

GtkWidget* ConfigDialog::NewLinkLabel(const std::string& name, const Font& start, int width) {
  const std::string caption = model_.Caption(name);
  GtkWidget* label = NewLabel(caption, 0.5f, false);
  Font font = start;
  FitLabelFont(&font, caption, width, [label](const std::string& text, const Font& f) {
    PangoLayout* layout = gtk_widget_create_pango_layout(label, DialogText(text).c_str());
    PangoFontDescription* description = FontToPango(f);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    int text_width = 0;
    pango_layout_get_pixel_size(layout, &text_width, nullptr);
    g_object_unref(layout);
    return text_width;
  });
  SetLabelFont(label, font);
  GtkWidget* box = gtk_event_box_new();
  gtk_widget_set_name(box, name.c_str());
  gtk_container_add(GTK_CONTAINER(box), label);
  g_signal_connect(box, "button-press-event", G_CALLBACK(OnLinkClicked), this);
  g_signal_connect(box, "realize", G_CALLBACK(OnLinkRealized), nullptr);
  return box;
}

GtkWidget* ConfigDialog::NewButton(const DialogControl& control) {
  GtkWidget* button = gtk_button_new_with_mnemonic(MnemonicLabel(control.caption).c_str());
  gtk_widget_set_name(button, control.name.c_str());
  // The model outlives the dialog, and with it the control the button stands for.
  g_object_set_data(G_OBJECT(button), kControlKey, const_cast<DialogControl*>(&control));
  FitButtonCaption(button);
  g_signal_connect(button, "clicked", G_CALLBACK(OnButton), this);
  return button;
}

GtkWidget* ConfigDialog::NewCheckBox(const DialogControl& control) {
  bool* field = control.flag;
  GtkWidget* check = gtk_check_button_new_with_mnemonic(MnemonicLabel(control.caption).c_str());
  FitButtonCaption(check);
  if (field != nullptr) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), *field);
    g_signal_connect(check, "toggled", G_CALLBACK(OnToggled), field);
  }
  return check;
}

GtkWidget* ConfigDialog::NewSpin(const DialogControl& control) {
  SpinValue* value = control.spin;
  const std::string& name = control.name;
  GtkWidget* spin = gtk_spin_button_new_with_range(value->min(), value->max(), 1);
  gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), 0);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value->value());
  gtk_entry_set_width_chars(GTK_ENTRY(spin), 1);
  gtk_widget_set_name(spin, name.c_str());
  g_signal_connect(spin, "input", G_CALLBACK(OnSpinInput), value);
  g_signal_connect(spin, "value-changed", G_CALLBACK(OnSpinChanged), value);
  spins_.push_back({spin, value});
  return spin;
}

GtkWidget* ConfigDialog::NewRadioGroup(const DialogControl& control) {
  RadioChoice* choice = control.choice;
  GtkWidget* frame = gtk_frame_new(nullptr);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_set_border_width(GTK_CONTAINER(box), 1);
  gtk_container_add(GTK_CONTAINER(frame), box);
  // A radio group always has one button on; this hidden one stands for "nothing selected".
  GtkWidget* none = gtk_radio_button_new(nullptr);
  gtk_widget_set_no_show_all(none, TRUE);
  gtk_box_pack_start(GTK_BOX(box), none, FALSE, FALSE, 0);
  GtkWidget* previous = none;
  const int32_t selected = choice->index();
  for (size_t i = 0; i < choice->items().size(); ++i) {
    GtkWidget* radio = gtk_radio_button_new_with_mnemonic_from_widget(
        GTK_RADIO_BUTTON(previous), MnemonicLabel(choice->items()[i]).c_str());
    FitButtonCaption(radio);
    gtk_box_pack_start(GTK_BOX(box), radio, TRUE, TRUE, 0);
    if (static_cast<int32_t>(i) == selected) {
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radio), TRUE);
    }
    choices_.push_back(std::make_unique<Choice>(Choice{choice, static_cast<int32_t>(i)}));
    g_signal_connect(radio, "toggled", G_CALLBACK(OnRadio), choices_.back().get());
    previous = radio;
  }
  if (selected < 0) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(none), TRUE);
  return frame;
}

GtkWidget* ConfigDialog::NewSetsList() {
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
  GtkWidget* list = gtk_list_box_new();
  gtk_widget_set_name(list, "clbSets");
  gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), GTK_SELECTION_NONE);
  const std::vector<SetEntry>& sets = model_.Sets();
  for (size_t i = 0; i < sets.size(); ++i) {
    GtkWidget* check = gtk_check_button_new_with_label(DialogText(sets[i].name).c_str());
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), sets[i].ticked);
    ticks_.push_back(std::make_unique<Tick>(Tick{this, i}));
    g_signal_connect(check, "toggled", G_CALLBACK(OnSetTicked), ticks_.back().get());
    gtk_list_box_insert(GTK_LIST_BOX(list), check, -1);
    GtkWidget* row = gtk_widget_get_parent(check);
    gtk_widget_set_can_focus(row, FALSE);
  }
  gtk_container_add(GTK_CONTAINER(scrolled), list);
  return scrolled;
}

GtkWidget* ConfigDialog::NewPreview(const DialogControl& shadow_control,
                                    const DialogControl& label_control, int width, int height) {
  const bool clock = label_control.font == PreviewFont::kClock;
  GtkWidget* area = NewArea(width, height);
  GtkWidget* shadow = NewLabel(shadow_control.caption, 0.0f, false);
  GtkWidget* label = NewLabel(label_control.caption, 0.0f, false);
  gtk_widget_set_name(label, label_control.name.c_str());
  gtk_label_set_ellipsize(GTK_LABEL(shadow), PANGO_ELLIPSIZE_NONE);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_NONE);
  gtk_label_set_yalign(GTK_LABEL(shadow), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
  Place(area, shadow, 1, 1, width - 1, height - 1);
  Place(area, label, 0, 0, width - 1, height - 1);
  (clock ? clock_ : filename_) = label;
  (clock ? clock_shadow_ : filename_shadow_) = shadow;
  ApplyPreviewFonts();
  return area;
}

void ConfigDialog::ApplyPreviewFonts() {
  if (clock_ != nullptr) {
    SetLabelFont(clock_, model_.ClockFont());
    SetLabelFont(clock_shadow_, ConfigModel::ShadowFont(model_.ClockFont()));
  }
  if (filename_ != nullptr) {
    SetLabelFont(filename_, model_.FilenameFont());
    SetLabelFont(filename_shadow_, ConfigModel::ShadowFont(model_.FilenameFont()));
  }
}

void ConfigDialog::Close(bool ok) {
  if (ok) {
    // Text typed into a spin box counts even when the box still has the focus.
    for (const Spin& spin : spins_) gtk_spin_button_update(GTK_SPIN_BUTTON(spin.widget));
    model_.Ok();
  }
  ok_ = ok;
  gtk_widget_hide(window_);
  gtk_main_quit();
}

void ConfigDialog::ChooseColor() {
  GtkWidget* chooser = gtk_color_chooser_dialog_new(
      PlainCaption(model_.Caption("btnSetBackgroundColor")).c_str(), GTK_WINDOW(window_));
  gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(chooser), FALSE);
  const GdkRGBA start = ColorToRgba(model_.ColorChooserColor());
  gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(chooser), &start);
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_OK) {
    GdkRGBA chosen;
    gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(chooser), &chosen);
    model_.ChooseBackgroundColor(RgbaToColor(chosen));
    if (swatch_ != nullptr) gtk_widget_queue_draw(swatch_);
  }
  gtk_widget_destroy(chooser);
}

void ConfigDialog::ChooseFont(bool clock) {
  const Font current = clock ? model_.ClockFont() : model_.FilenameFont();
  const std::string caption = model_.Caption(clock ? "btnSetClockFont" : "btnSetFilenameFont");
  GtkWidget* chooser =
      gtk_font_chooser_dialog_new(PlainCaption(caption).c_str(), GTK_WINDOW(window_));
  // The chooser lists the installed families only: a face the system stands in for (such as
  // Arial) starts the chooser on the family that stands in for it.
  PangoFontDescription* start = FontToPango(current);
  std::string stand_in;
  if (PangoFont* loaded = pango_context_load_font(gtk_widget_get_pango_context(window_), start)) {
    PangoFontDescription* real = pango_font_describe(loaded);
    if (const char* family = pango_font_description_get_family(real)) {
      pango_font_description_set_family(start, family);
      stand_in = family;
    }
    pango_font_description_free(real);
    g_object_unref(loaded);
  }
  gtk_font_chooser_set_font_desc(GTK_FONT_CHOOSER(chooser), start);
  pango_font_description_free(start);
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_OK) {
    PangoFontDescription* chosen = gtk_font_chooser_get_font_desc(GTK_FONT_CHOOSER(chooser));
    if (chosen != nullptr) {
      Font font = FontFromPango(chosen, current);
      pango_font_description_free(chosen);
      // Kept on the stand-in family, the font keeps its own name: the saver's "Arial" stays
      // "Arial" for the Windows engine and for a machine that has it.
      if (!stand_in.empty() && font.Name == stand_in) font.Name = current.Name;
      if (clock) {
        model_.SetClockFont(font);
      } else {
        model_.SetFilenameFont(font);
      }
      ApplyPreviewFonts();
    }
  }
  gtk_widget_destroy(chooser);
}

void ConfigDialog::OnButton(GtkWidget* button, gpointer self) {
  ConfigDialog& dialog = *static_cast<ConfigDialog*>(self);
  const auto* control =
      static_cast<const DialogControl*>(g_object_get_data(G_OBJECT(button), kControlKey));
  if (control == nullptr) return;
  switch (control->action) {
    case ControlAction::kOk:
      dialog.Close(true);
      break;
    case ControlAction::kCancel:
      dialog.Close(false);
      break;
    case ControlAction::kChooseColor:
      dialog.ChooseColor();
      break;
    case ControlAction::kChooseFont:
      dialog.ChooseFont(control->font == PreviewFont::kClock);
      break;
    case ControlAction::kNone:
      break;
  }
}

void ConfigDialog::OnToggled(GtkToggleButton* button, gpointer field) {
  *static_cast<bool*>(field) = gtk_toggle_button_get_active(button);
}

void ConfigDialog::OnRadio(GtkToggleButton* button, gpointer choice) {
  if (!gtk_toggle_button_get_active(button)) return;
  const Choice& c = *static_cast<Choice*>(choice);
  c.choice->Select(c.index);
}

void ConfigDialog::OnSetTicked(GtkToggleButton* button, gpointer tick) {
  const Tick& t = *static_cast<Tick*>(tick);
  t.dialog->model_.SetTicked(t.index, gtk_toggle_button_get_active(button));
}

void ConfigDialog::OnSpinChanged(GtkSpinButton* spin, gpointer value) {
  static_cast<SpinValue*>(value)->Set(gtk_spin_button_get_value_as_int(spin));
}

gint ConfigDialog::OnSpinInput(GtkSpinButton* spin, gdouble* new_value, gpointer value) {
  // Typed text follows the dialog's own rule: no number reads as the minimum.
  SpinValue typed = *static_cast<SpinValue*>(value);
  typed.SetText(gtk_entry_get_text(GTK_ENTRY(spin)));
  *new_value = typed.value();
  return TRUE;
}

gboolean ConfigDialog::OnLinkClicked(GtkWidget* box, GdkEventButton* event, gpointer self) {
  if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
  ConfigDialog& dialog = *static_cast<ConfigDialog*>(self);
  const std::string address = dialog.model_.LinkFor(gtk_widget_get_name(box));
  if (address.empty()) return TRUE;
  // Whether the desktop could open it is not reported, as on Windows.
  GError* error = nullptr;
  if (!gtk_show_uri_on_window(GTK_WINDOW(dialog.window_), DialogText(address).c_str(), event->time,
                              &error)) {
    g_clear_error(&error);
  }
  return TRUE;
}

void ConfigDialog::OnLinkRealized(GtkWidget* box, gpointer) {
  GdkCursor* hand = gdk_cursor_new_from_name(gtk_widget_get_display(box), "pointer");
  if (hand != nullptr) {
    gdk_window_set_cursor(gtk_widget_get_window(box), hand);
    g_object_unref(hand);
  }
}

gboolean ConfigDialog::OnDrawSwatch(GtkWidget*, cairo_t* cr, gpointer self) {
  const GdkRGBA color = ColorToRgba(static_cast<ConfigDialog*>(self)->model_.BackgroundColor());
  gdk_cairo_set_source_rgba(cr, &color);
  cairo_paint(cr);
  return TRUE;
}

gboolean ConfigDialog::OnClockTimer(gpointer self) {
  ConfigDialog& dialog = *static_cast<ConfigDialog*>(self);
  dialog.model_.ClockTick(true);
  if (dialog.clock_ != nullptr) {
    const std::string text = DialogText(dialog.model_.Caption("lClock"));
    gtk_label_set_text(GTK_LABEL(dialog.clock_), text.c_str());
    gtk_label_set_text(GTK_LABEL(dialog.clock_shadow_), text.c_str());
  }
  return G_SOURCE_CONTINUE;
}

gboolean ConfigDialog::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<ConfigDialog*>(self)->Close(false);
  return TRUE;
}

gboolean ConfigDialog::OnKey(GtkWidget*, GdkEventKey* event, gpointer self) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  static_cast<ConfigDialog*>(self)->Close(false);
  return TRUE;
}

}  // namespace

int RunConfigureMode(DataFileHost& host, ValueStore& store, const CommandLine& command_line) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr,
                 "quenvale: the settings dialog needs a graphical display, and none could be "
                 "opened (is DISPLAY set?)\n");
    return 1;
  }
  // A missing or damaged data file ends the process here, through the host.
  ZipFileSettings data_file(host, SaverMode::smConfigure);
  data_file.ListSets();
  const std::string title = data_file.Settings().GetValue("title", "general");
  std::unique_ptr<Settings> settings;
  try {
    settings = std::make_unique<Settings>(data_file, store);
  } catch (const std::exception& e) {
    ShowGtkErrorBox(title, e.what());
    return 1;
  }
  int exit_code = 0;
  try {
    ConfigModel model(data_file.Settings(), ListedSetNames(data_file), *settings);
    ConfigDialog dialog(model);
    dialog.Run(command_line.parent_window);
  } catch (const std::exception& e) {
    ShowGtkErrorBox(title, e.what());
    exit_code = 1;
  }
  // After OK the settings hold the dialog's values; otherwise this writes back what was loaded.
  try {
    settings->Close();
  } catch (const std::exception& e) {
    ShowGtkErrorBox(title, e.what());
    return 1;
  }
  return exit_code;
}

}  // namespace quenvale
