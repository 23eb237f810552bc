// The host rundll32, started as the platform starts it: found by the
// library search, calling the export with its hidden window, the library's
// instance, the text unchanged and the show command.
#include <gtest/gtest.h>

#include <cstdlib>

#include "host.h"
#include "planted_files.h"
#include "temp_machine.h"

namespace {

const std::filesystem::path kBin(KX_BIN_DIR);

class RunDll32 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kBin / "rundll32"));
    ASSERT_TRUE(std::filesystem::exists(kBin / "kxtestmodule.so"));
    kxtest::PlantLink("C:\\WINDOWS\\SYSTEM\\RUNDLL32.EXE", kBin / "rundll32");
    kxtest::PlantCopy("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL", kBin / "kxtestmodule.so");
    setenv("KX_TEST_MODULE_LOG", (machine_.dir() / "module.log").c_str(), 1);
  }
  void TearDown() override { unsetenv("KX_TEST_MODULE_LOG"); }

  // Runs the command through CreateProcessA; its exit code.
  DWORD Run(const std::string& command, WORD show = 0) {
    std::string writable = command;
    STARTUPINFOA startup{};
    startup.cb = KX_STARTUPINFOA_SIZE_32;
    if (show) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = show;
    }
    PROCESS_INFORMATION information{};
    EXPECT_TRUE(CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &information))
        << GetLastError();
    DWORD exit_code = 0xDEAD;
    EXPECT_EQ(WaitForSingleObject(information.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    GetExitCodeProcess(information.hProcess, &exit_code);
    CloseHandle(information.hThread);
    CloseHandle(information.hProcess);
    return exit_code;
  }
  std::vector<std::string> Log() { return kxtest::ReadLines(machine_.dir() / "module.log"); }

  kxtest::TempMachine machine_;
};

TEST_F(RunDll32, CallsTheExportAsThePlatform) {
  EXPECT_EQ(Run("RunDLL32 KXTEST,RecordCall  two words \"q\"", SW_SHOWNA), 0u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"attach", "window 1", "instance 1", "show 8",
                                             "text [ two words \"q\"]", "detach"}));
  EXPECT_TRUE(kxhost::RecordedBoxes().empty());
}

TEST_F(RunDll32, TextMayBeEmpty) {
  EXPECT_EQ(Run("rundll32.exe C:\\WINDOWS\\SYSTEM\\KXTEST.DLL,RecordCall"), 0u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"attach", "window 1", "instance 1", "show 1",
                                             "text []", "detach"}));
}

TEST_F(RunDll32, ShowsTheErrorsOfThePlatformsTool) {
  EXPECT_EQ(Run("RUNDLL32 NOSUCH,RecordCall text"), 0u);
  EXPECT_EQ(Run("RUNDLL32 KXTEST,NoSuchEntry text"), 0u);
  auto boxes = kxhost::RecordedBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Error loading NOSUCH");
  EXPECT_EQ(boxes[1].text, "Error in KXTEST\nMissing entry:NoSuchEntry");
  for (const auto& box : boxes) {
    EXPECT_EQ(box.caption, "RUNDLL");
    EXPECT_NE(box.owner, 0u);
  }
}

}  // namespace
