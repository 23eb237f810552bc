// The Wine test harness and its fixtures, on the simplest programs.
#include <gtest/gtest.h>

#include "wine_machine.h"

namespace kxwine {
namespace {

TEST(Harness, BoxWatcherReadsAndPressesABox) {
  BoxWatcher watcher;
  Process probe("\"" + BuildDirectory() + "probe.exe\" /box \"Some text\" \"A caption\"");
  EXPECT_EQ(probe.Wait(30000), std::optional<DWORD>(0)) << "the box was not pressed";
  std::vector<Box> boxes = watcher.Stop();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Some text");
  EXPECT_EQ(boxes[0].caption, "A caption");
  EXPECT_EQ(boxes[0].pid, probe.id());
  EXPECT_EQ(boxes[0].program, "probe.exe");
  EXPECT_EQ(boxes[0].owner_class, "");
}

TEST(Harness, ShellOwnsProgramManagerAndRunsTheRunSection) {
  SetValue(kRunKey, "Probe", REG_SZ, "\"" + BuildDirectory() + "probe.exe\" from-run" + '\0');
  Shell shell;
  EXPECT_TRUE(shell.running());
  EXPECT_TRUE(WaitUntil([] { return ReadWholeFile("C:\\kxprobe.log").has_value(); }, 20000))
      << "the Run section's command did not run";
  EXPECT_NE(ReadWholeFile("C:\\kxprobe.log").value_or("").find("from-run"), std::string::npos);
}

}  // namespace
}  // namespace kxwine
