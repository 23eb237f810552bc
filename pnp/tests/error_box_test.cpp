// The error box: the library's strings, whole, with the error icon.
#include "error_box.h"

#include <string>

#include "library_strings.h"
#include "pnp_fixture.h"
#include "resource.h"

namespace {

using pnptest::Boxes;

class ErrorBoxTest : public pnptest::PnpTest {};

TEST_F(ErrorBoxTest, LoadsEveryStringWhole) {
  const struct {
    UINT id;
    const char* text;
  } table[] = {
      {IDS_SHELL_TITLE, "Program Manager"},
      {IDS_NO_MODEL_NAME, "No printer Model name in DevNode?"},
      {IDS_PHASE1_CAPTION, "Internal Failure in Zvk_Install!"},
      {IDS_PHASE2_NOT_REGISTERED,
       "Failed to register second phase in Shell's section of the registry."},
      {IDS_DEVNODE_CLEANUP_FAILED,
       "Corrupted DevNode or Failure to clean up Shell section of the registry."},
      {IDS_PHASE2_CAPTION, "Internal Failure in Delayed_Zvk_Install!"},
      {304, ""},
      {0, ""},
  };
  for (const auto& row : table) EXPECT_EQ(LoadLibraryString(row.id), row.text) << row.id;
}

TEST_F(ErrorBoxTest, ShowsTextAndCaptionWithTheErrorIcon) {
  const struct {
    UINT text_id;
    UINT caption_id;
    const char* text;
    const char* caption;
  } cases[] = {
      {IDS_DEVNODE_CLEANUP_FAILED, IDS_PHASE2_CAPTION,
       "Corrupted DevNode or Failure to clean up Shell section of the registry.",
       "Internal Failure in Delayed_Zvk_Install!"},
      {IDS_NO_MODEL_NAME, IDS_PHASE1_CAPTION, "No printer Model name in DevNode?",
       "Internal Failure in Zvk_Install!"},
      // A missing string is shown as empty text; the box is still there.
      {999, IDS_PHASE1_CAPTION, "", "Internal Failure in Zvk_Install!"},
      {IDS_NO_MODEL_NAME, 999, "No printer Model name in DevNode?", ""},
  };
  for (const auto& row : cases) ShowInstallError(owner_.get(), row.text_id, row.caption_id);
  auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), std::size(cases));
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].owner, owner_.get()) << i;
    EXPECT_EQ(boxes[i].text, cases[i].text) << i;
    EXPECT_EQ(boxes[i].caption, cases[i].caption) << i;
    EXPECT_EQ(boxes[i].style, static_cast<UINT>(MB_ICONERROR)) << i;
  }
}

}  // namespace
