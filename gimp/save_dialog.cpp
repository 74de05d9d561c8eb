#include "gimp/save_dialog.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include "core/blp_format.h"
#include "dialog/save_options_logic.h"
#include "gimp/gimp_procs.h"

namespace vellum::gimp {

namespace {

// A right-aligned label in the first column, as the Windows dialog lays its labels out,
// and the control it names (inside `cell`, which takes the second column).
void attachLabel(GtkWidget* table, const char* text, guint row, GtkWidget* control, GtkWidget* cell = nullptr) {
  GtkWidget* label = gtk_label_new(text);
  gtk_misc_set_alignment(GTK_MISC(label), 1.0f, 0.5f);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), control);
  if (cell != nullptr) control = cell;
  gtk_table_attach(GTK_TABLE(table), label, 0, 1, row, row + 1, GTK_FILL, GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(table), control, 1, 2, row, row + 1, GtkAttachOptions(GTK_EXPAND | GTK_FILL), GTK_FILL,
                   0, 0);
}

}  // namespace

void createSaveDialog(const SaveOptions& initial, SaveDialog* d) {
  d->dialog = gimp_dialog_new(kSaveDialogTitle, kPlugInBinary, nullptr, GtkDialogFlags(0), gimp_standard_help_func,
                              kSaveProc, "_Cancel", GTK_RESPONSE_CANCEL, "_Export", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(d->dialog), GTK_RESPONSE_OK);
  gtk_window_set_resizable(GTK_WINDOW(d->dialog), FALSE);

  GtkWidget* table = gtk_table_new(5, 2, FALSE);
  gtk_table_set_row_spacings(GTK_TABLE(table), 6);
  gtk_table_set_col_spacings(GTK_TABLE(table), 6);
  gtk_container_set_border_width(GTK_CONTAINER(table), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d->dialog))), table, TRUE, TRUE, 0);

  d->format = gtk_combo_box_text_new();
  for (int i = 0; i < kBlpContentTypeCount; ++i)
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(d->format), blpContentTypeLabel(BlpContentType(i)));
  gtk_combo_box_set_active(GTK_COMBO_BOX(d->format), gint(initial.contentType));
  attachLabel(table, "Format:", 0, d->format);

  d->quantizer = gtk_combo_box_text_new();
  for (int i = 0; i < kQuantizerKindCount; ++i)
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(d->quantizer), quantizerLabel(QuantizerKind(i)));
  gtk_combo_box_set_active(GTK_COMBO_BOX(d->quantizer), gint(initial.quantizer));
  attachLabel(table, "Quantization Algorithm:", 1, d->quantizer);

  // The scale shows its value at its right, as the read-out beside the Windows scroll bar.
  d->quality = gtk_hscale_new_with_range(kQualityMin, kQualityMax, 1);
  gtk_scale_set_digits(GTK_SCALE(d->quality), 0);
  gtk_scale_set_value_pos(GTK_SCALE(d->quality), GTK_POS_RIGHT);
  gtk_range_set_increments(GTK_RANGE(d->quality), 1, 10);
  gtk_range_set_value(GTK_RANGE(d->quality), initial.jpegQuality);
  gtk_widget_set_size_request(d->quality, 200, -1);
  attachLabel(table, "JPEG Quality:", 2, d->quality);

  d->progressive = gtk_check_button_new_with_label("Progressive");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d->progressive), initial.progressive);
  gtk_table_attach(GTK_TABLE(table), d->progressive, 1, 2, 3, 4, GTK_FILL, GTK_FILL, 0, 0);

  // A spin button keeps its number within 1 to 16, as the Windows edit and spinner do.
  d->mipmaps = gtk_spin_button_new_with_range(kMipLevelsMin, kMipLevelsMax, 1);
  gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(d->mipmaps), TRUE);
  gtk_spin_button_set_digits(GTK_SPIN_BUTTON(d->mipmaps), 0);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(d->mipmaps), initial.maxMipLevels);
  GtkWidget* spinBox = gtk_hbox_new(FALSE, 0);
  gtk_box_pack_start(GTK_BOX(spinBox), d->mipmaps, FALSE, FALSE, 0);
  attachLabel(table, "Maximum mipmaps:", 4, d->mipmaps, spinBox);

  gtk_widget_show_all(table);
}

SaveOptions saveDialogChoices(const SaveDialog& d) {
  gtk_spin_button_update(GTK_SPIN_BUTTON(d.mipmaps));  // takes a number still being typed
  const int32_t quality = int32_t(gtk_range_get_value(GTK_RANGE(d.quality)) + 0.5);
  const uint32_t word = saveOptionsWordAtOk(
      quality, gtk_combo_box_get_active(GTK_COMBO_BOX(d.format)),
      gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d.progressive)) != FALSE,
      gtk_combo_box_get_active(GTK_COMBO_BOX(d.quantizer)), gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(d.mipmaps)));
  return unpackSaveOptions(word);
}

bool runSaveDialog(SaveOptions* options) {
  SaveDialog d;
  createSaveDialog(*options, &d);
  gimp_window_set_transient(GTK_WINDOW(d.dialog));
  gtk_widget_show(d.dialog);
  const bool exported = gimp_dialog_run(GIMP_DIALOG(d.dialog)) == GTK_RESPONSE_OK;
  if (exported) *options = saveDialogChoices(d);
  gtk_widget_destroy(d.dialog);
  return exported;
}

}  // namespace vellum::gimp
