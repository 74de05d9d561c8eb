// The export dialog: the choices of the Save Options dialog of the Windows plug-ins, with
// its texts, lists, ranges and defaults, as a GTK dialog of GIMP's kind ("_Cancel" and
// "_Export" buttons, as every GIMP export dialog has).
#pragma once

#include <gtk/gtk.h>

#include "core/save_options.h"

namespace vellum::gimp {

constexpr const char* kSaveDialogTitle = "BLP Save Options";

// The dialog and the controls that hold the choices.
struct SaveDialog {
  GtkWidget* dialog = nullptr;
  GtkWidget* format = nullptr;       // combo box: the seven formats, in list order
  GtkWidget* quantizer = nullptr;    // combo box: the five quantizers, in list order
  GtkWidget* quality = nullptr;      // horizontal scale 1..100 with its value shown
  GtkWidget* progressive = nullptr;  // check box
  GtkWidget* mipmaps = nullptr;      // spin button 1..16
};

// Builds the dialog (not shown) with `initial` selected.
void createSaveDialog(const SaveOptions& initial, SaveDialog* dialog);

// The choices the controls hold, as the Save Options dialog builds them at OK: the
// progressive flag only for the JPEG formats, quality and level count within their ranges.
SaveOptions saveDialogChoices(const SaveDialog& dialog);

// Shows the dialog; true with *options set when the user exports, false when cancelled.
// GIMP's UI must be initialised (gimp_ui_init).
bool runSaveDialog(SaveOptions* options);

}  // namespace vellum::gimp
