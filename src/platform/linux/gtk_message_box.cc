#include "platform/linux/gtk_message_box.h"

#include <gtk/gtk.h>

#include "platform/linux/gtk_mapping.h"
#include "platform/linux/stop_signals.h"

namespace quenvale {

bool ShowGtkErrorBox(const std::string& title, const std::string& message) {
  // The program's class names its windows for the desktop (and for the tests that look for them).
  if (g_get_prgname() == nullptr) g_set_prgname("quenvale");
  if (!gtk_init_check(nullptr, nullptr)) return false;
  GtkWidget* box = gtk_dialog_new_with_buttons(DialogText(title).c_str(), nullptr, GTK_DIALOG_MODAL,
                                               "_OK", GTK_RESPONSE_OK, nullptr);
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
  // A full-screen saver stays on top of everything; the box must come out above it.
  gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);

  // The error icon beside the text, as a message box has it.
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
  gtk_container_set_border_width(GTK_CONTAINER(row), 16);
  GtkWidget* icon = gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG);
  gtk_widget_set_valign(icon, GTK_ALIGN_START);
  GtkWidget* text = gtk_label_new(DialogText(message).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(text), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(text), 60);
  gtk_label_set_xalign(GTK_LABEL(text), 0.0f);
  gtk_label_set_selectable(GTK_LABEL(text), TRUE);
  gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), text, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(box))), row, TRUE, TRUE, 0);
  gtk_widget_show_all(box);
  // The keyboard comes to the box, also from a full-screen saver that held it.
  gtk_window_present_with_time(GTK_WINDOW(box), GDK_CURRENT_TIME);
  // The button has the focus, so Return answers the box (a selectable label would take it).
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK));
  // Answered, closed, or a stop signal: the box must never keep the engine from ending. The
  // timer wakes the loop to look for the signal.
  bool answered = false;
  g_signal_connect(box, "response", G_CALLBACK(+[](GtkDialog*, gint, gpointer done) {
                     *static_cast<bool*>(done) = true;
                   }),
                   &answered);
  const guint wake = g_timeout_add(50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; },
                                   nullptr);
  while (!answered && !StopRequested()) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(wake);
  gtk_widget_destroy(box);
  // Let the box's window really go before the caller goes on (or exits).
  while (gtk_events_pending()) gtk_main_iteration();
  return true;
}

}  // namespace quenvale
