#include "app/action_script_dialog.h"

#include <gtest/gtest.h>
#include <QPlainTextEdit>

namespace quillon {
namespace {

TEST(ActionScriptDialogTest, UnchangedTextComesBackTheSame) {
  ActionScriptDialog dialog;
  const std::string text = "Title,Moulin Rouge\n\nUrl,http://x/\\n\n";
  dialog.SetVariables(text);
  EXPECT_EQ(dialog.Box()->toPlainText(), "Title,Moulin Rouge\n\nUrl,http://x/\\n");
  EXPECT_EQ(dialog.Variables(), text);
  dialog.SetVariables(std::nullopt);
  EXPECT_EQ(dialog.Variables(), std::nullopt);
}

TEST(ActionScriptDialogTest, EveryLineEndsInOneLineFeedTheLastOneIncluded) {
  ActionScriptDialog dialog;
  dialog.Box()->setPlainText("a,1\r\nb,2");
  EXPECT_EQ(dialog.Variables(), std::string("a,1\nb,2\n"));
  dialog.Box()->setPlainText("a,1\n");
  EXPECT_EQ(dialog.Variables(), std::string("a,1\n\n"));
}

}  // namespace
}  // namespace quillon
