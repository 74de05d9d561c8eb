// The export dialog on a virtual display (Xvfb, started by the test): the texts, lists,
// ranges and defaults of the Save Options dialog, and the choices it hands back.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dialog/save_options_logic.h"
#include "gimp/save_dialog.h"

// Built with LeakSanitizer, the program would report what fontconfig, Pango, GTK and GLib
// keep until the end of every GTK program; the dialog code allocates nothing of its own.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libpango\nleak:libgtk-x11\nleak:libgdk-x11\nleak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\nleak:libcairo.so\nleak:libharfbuzz.so\nleak:libgio-2.0.so\n";
}

namespace vellum::gimp {
namespace {

// Starts Xvfb on a free display (it reports the number through a pipe) and GTK on it,
// once per test program; the server ends with the program.
bool startGtk() {
  static int state = 0;  // 0 not tried, 1 running, -1 failed
  if (state != 0) return state == 1;
  state = -1;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  pid_t server = fork();
  if (server == 0) {
    close(pipeFds[0]);
    const std::string fd = std::to_string(pipeFds[1]);
    execl(XVFB_PATH, "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "800x600x24",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  std::string display;
  char c;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') display += c;
  close(pipeFds[0]);
  if (server < 0 || display.empty()) return false;
  static pid_t serverPid = server;
  std::atexit([] {
    kill(serverPid, SIGTERM);
    waitpid(serverPid, nullptr, 0);
  });
  setenv("DISPLAY", (":" + display).c_str(), 1);
  int argc = 0;
  char** argv = nullptr;
  if (!gtk_init_check(&argc, &argv)) return false;
  state = 1;
  return true;
}

struct DialogFixture : ::testing::Test {
  SaveDialog d;
  void open(const SaveOptions& initial) {
    ASSERT_TRUE(startGtk()) << "no virtual display";
    createSaveDialog(initial, &d);
    ASSERT_NE(d.dialog, nullptr);
  }
  void TearDown() override {
    if (d.dialog != nullptr) gtk_widget_destroy(d.dialog);
  }
};

std::vector<std::string> comboEntries(GtkWidget* combo) {
  std::vector<std::string> entries;
  GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
  GtkTreeIter it;
  for (gboolean more = gtk_tree_model_get_iter_first(model, &it); more; more = gtk_tree_model_iter_next(model, &it)) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, &it, 0, &text, -1);
    entries.push_back(text != nullptr ? text : "");
    g_free(text);
  }
  return entries;
}

void collectLabels(GtkWidget* widget, std::vector<std::string>* labels) {
  if (GTK_IS_LABEL(widget)) labels->push_back(gtk_label_get_text(GTK_LABEL(widget)));
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c != nullptr; c = c->next) collectLabels(GTK_WIDGET(c->data), labels);
    g_list_free(children);
  }
}

bool hasLabel(const std::vector<std::string>& labels, const std::string& text) {
  for (const std::string& l : labels)
    if (l == text) return true;
  return false;
}

TEST_F(DialogFixture, ShowsTheSaveOptionsTextsListsAndRanges) {
  open(SaveOptions{});
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d.dialog)), "BLP Save Options");
  EXPECT_EQ(comboEntries(d.format),
            (std::vector<std::string>{"BLP1 JPEG", "BLP1 Paletted", "BLP2 JPEG", "BLP2 Paletted 8-bit alpha",
                                      "BLP2 DirX Compress", "BLP2 Paletted 4-bit alpha", "BLP2 Paletted 1-bit alpha"}));
  EXPECT_EQ(comboEntries(d.quantizer), (std::vector<std::string>{"NeuQuant 100", "NeuQuant 128", "Dennis Lee3 fast",
                                                                 "Dennis Lee3 slow", "Mediancut"}));
  std::vector<std::string> labels;
  collectLabels(d.dialog, &labels);
  for (const char* text : {"Format:", "Quantization Algorithm:", "JPEG Quality:", "Progressive", "Maximum mipmaps:"})
    EXPECT_TRUE(hasLabel(labels, text)) << text;
  GtkAdjustment* quality = gtk_range_get_adjustment(GTK_RANGE(d.quality));
  EXPECT_EQ(gtk_adjustment_get_lower(quality), 1.0);
  EXPECT_EQ(gtk_adjustment_get_upper(quality), 100.0);
  EXPECT_EQ(gtk_scale_get_digits(GTK_SCALE(d.quality)), 0);
  EXPECT_TRUE(gtk_scale_get_draw_value(GTK_SCALE(d.quality)));
  double low = 0, high = 0;
  gtk_spin_button_get_range(GTK_SPIN_BUTTON(d.mipmaps), &low, &high);
  EXPECT_EQ(low, 1.0);
  EXPECT_EQ(high, 16.0);
  GtkWidget* exportButton = gtk_dialog_get_widget_for_response(GTK_DIALOG(d.dialog), GTK_RESPONSE_OK);
  GtkWidget* cancelButton = gtk_dialog_get_widget_for_response(GTK_DIALOG(d.dialog), GTK_RESPONSE_CANCEL);
  ASSERT_NE(exportButton, nullptr);
  ASSERT_NE(cancelButton, nullptr);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(exportButton)), "_Export");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(cancelButton)), "_Cancel");
}

TEST_F(DialogFixture, UntouchedGivesTheDefaultsWord) {
  open(SaveOptions{});
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(d.format)), 0);
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(d.quantizer)), 0);
  EXPECT_EQ(gtk_range_get_value(GTK_RANGE(d.quality)), 100.0);
  EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d.progressive)));
  EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(d.mipmaps)), 16);
  EXPECT_EQ(packSaveOptions(saveDialogChoices(d)), kDefaultSaveOptionsWord);
}

TEST_F(DialogFixture, StartsFromTheGivenChoicesAndHandsThemBack) {
  // Quality 42, "BLP2 JPEG", progressive, "Dennis Lee3 slow", 7 levels.
  open(unpackSaveOptions(0x0703122Au));
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(d.format)), 2);
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(d.quantizer)), 3);
  EXPECT_EQ(gtk_range_get_value(GTK_RANGE(d.quality)), 42.0);
  EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d.progressive)));
  EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(d.mipmaps)), 7);
  EXPECT_EQ(packSaveOptions(saveDialogChoices(d)), 0x0703122Au);
}

TEST_F(DialogFixture, ProgressiveCountsOnlyForTheJpegFormats) {
  open(SaveOptions{});
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d.progressive), TRUE);
  for (int format = 0; format < kBlpContentTypeCount; ++format) {
    gtk_combo_box_set_active(GTK_COMBO_BOX(d.format), format);
    const uint32_t word = packSaveOptions(saveDialogChoices(d));
    EXPECT_EQ((word >> 8) & 0xF, uint32_t(format));
    EXPECT_EQ((word >> 12) & 1, format == 0 || format == 2 ? 1u : 0u) << format;
  }
}

TEST_F(DialogFixture, TypedLevelCountsStayWithinOneToSixteen) {
  open(SaveOptions{});
  const struct {
    const char* typed;
    int kept;
  } cases[] = {{"0", 1}, {"25", 16}, {"9", 9}, {"1", 1}};
  for (const auto& c : cases) {
    gtk_entry_set_text(GTK_ENTRY(d.mipmaps), c.typed);
    EXPECT_EQ(saveDialogChoices(d).maxMipLevels, c.kept) << c.typed;
  }
  gtk_range_set_value(GTK_RANGE(d.quality), 0);
  EXPECT_EQ(saveDialogChoices(d).jpegQuality, 1);
  gtk_range_set_value(GTK_RANGE(d.quality), 250);
  EXPECT_EQ(saveDialogChoices(d).jpegQuality, 100);
  gtk_range_set_value(GTK_RANGE(d.quality), 7);
  EXPECT_EQ(saveDialogChoices(d).jpegQuality, 7);
}

}  // namespace
}  // namespace vellum::gimp
