// The library's error boxes as the box watcher read them, and the
// installation lock seen through them.
#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "wine_machine.h"

namespace kxwine {
namespace {

const std::string kArguments = std::string(kDeviceKey) + " " + kSource;
const std::string kRunCommand = "RunDLL32 KX51PNP,StartPrinterInstallation " + kArguments + '\0';
const std::string kFlags(4, '\0');

constexpr const char* kNoModel = "No printer Model name in DevNode?";
constexpr const char* kPhase1Caption = "Internal Failure in Zvk_Install!";
constexpr const char* kNotRegistered =
    "Failed to register second phase in Shell's section of the registry.";
constexpr const char* kCleanupFailed =
    "Corrupted DevNode or Failure to clean up Shell section of the registry.";
constexpr const char* kPhase2Caption = "Internal Failure in Delayed_Zvk_Install!";

void DeleteValue(const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

// Denies everyone the writing of values in the Run key, as a registry that
// refuses the write.
void RefuseRunValues() {
  SetValue(kRunKey, "Other", REG_SZ, std::string("other.exe") + '\0');
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, READ_CONTROL | WRITE_DAC, &key),
            ERROR_SUCCESS);
  EXPLICIT_ACCESSA deny{};
  BuildExplicitAccessWithNameA(&deny, const_cast<char*>("EVERYONE"),
                               KEY_SET_VALUE | KEY_CREATE_SUB_KEY, DENY_ACCESS, NO_INHERITANCE);
  PACL acl = nullptr;
  ASSERT_EQ(SetEntriesInAclA(1, &deny, nullptr, &acl), ERROR_SUCCESS);
  EXPECT_EQ(SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                            nullptr),
            ERROR_SUCCESS);
  LocalFree(acl);
  RegCloseKey(key);
}

struct FailureRow {
  const char* name;
  const char* entry;
  std::function<void()> prepare;  // after the device key got its "Model"
  const char* text;
  const char* caption;
  std::function<void()> expect_left;
};

const FailureRow kRows[] = {
    {"first phase, no Model", "SchedulePrinterInstallation",
     [] { DeleteValue(kDeviceKey, "Model"); }, kNoModel, kPhase1Caption,
     [] {
       EXPECT_FALSE(QueryValue(kDeviceKey, "ConfigFlags"));
       EXPECT_FALSE(QueryValue(kRunKey, kModel));
     }},
    {"first phase, Run value refused", "SchedulePrinterInstallation", RefuseRunValues,
     kNotRegistered, kPhase1Caption,
     [] {
       std::optional<RegistryValue> flags = QueryValue(kDeviceKey, "ConfigFlags");
       EXPECT_TRUE(flags && flags->data == kFlags) << "ConfigFlags not written";
       EXPECT_FALSE(QueryValue(kRunKey, kModel));
     }},
    {"second phase, no Model", "StartPrinterInstallation",
     [] {
       DeleteValue(kDeviceKey, "Model");
       SetValue(kDeviceKey, "ConfigFlags", REG_BINARY, kFlags);
       SetValue(kRunKey, kModel, REG_SZ, kRunCommand);
     },
     kCleanupFailed, kPhase2Caption,
     [] {
       EXPECT_TRUE(QueryValue(kDeviceKey, "ConfigFlags"));
       EXPECT_TRUE(QueryValue(kRunKey, kModel));
     }},
    {"second phase, no ConfigFlags", "StartPrinterInstallation",
     [] { SetValue(kRunKey, kModel, REG_SZ, kRunCommand); }, kCleanupFailed, kPhase2Caption,
     [] {
       EXPECT_FALSE(QueryValue(kDeviceKey, "ConfigFlags"));
       EXPECT_TRUE(QueryValue(kRunKey, kModel));
     }},
    {"second phase, no Run value and no shell", "StartPrinterInstallation",
     [] { SetValue(kDeviceKey, "ConfigFlags", REG_BINARY, kFlags); }, kCleanupFailed,
     kPhase2Caption,
     [] {
       EXPECT_FALSE(QueryValue(kDeviceKey, "ConfigFlags")) << "ConfigFlags written again";
       EXPECT_FALSE(QueryValue(kRunKey, kModel));
     }},
};

// Gives the Run key back its access for everyone, then removes it.
void ResetRegistry() {
  HKEY run = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, WRITE_DAC, &run) == ERROR_SUCCESS) {
    SetSecurityInfo(run, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                    nullptr);
    RegCloseKey(run);
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDeviceKey);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRunKey);
  SetValue(kDeviceKey, "Model", REG_SZ, std::string(kModel) + '\0');
}

void ExpectOwnedBy(const Box& box, DWORD pid) {
  EXPECT_EQ(box.pid, pid) << "the box is not the phase's";
  EXPECT_EQ(box.owner_pid, pid) << "owner " << box.owner_class << " \"" << box.owner_title
                                << "\" is not the phase's window";
  EXPECT_NE(box.owner_class, "") << "the box has no owner";
}

TEST(Boxes, EachFailureOfThePhasesShowsItsBox) {
  PrepareDevice();
  for (const FailureRow& row : kRows) {
    SCOPED_TRACE(row.name);
    ResetRegistry();
    row.prepare();
    BoxWatcher watcher;
    Process phase(PhaseCommand(row.entry, kArguments));
    EXPECT_TRUE(phase.Wait(60000)) << "the phase did not end";
    std::vector<Box> boxes = watcher.Stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, row.text);
    EXPECT_EQ(boxes[0].caption, row.caption);
    ExpectOwnedBy(boxes[0], phase.id());
    std::printf("%s: box of %s owned by %s \"%s\"\n", row.name, boxes[0].program.c_str(),
                boxes[0].owner_class.c_str(), boxes[0].owner_title.c_str());
    row.expect_left();
  }
}

// Three phases started together: each shows its box while it holds the
// lock, so the boxes come one after another, never two at once.
TEST(Lock, ThreePhasesInThreeProcessesTakeTurns) {
  PrepareDevice();
  DeleteValue(kDeviceKey, "Model");
  constexpr DWORD kHoldMs = 2000;
  BoxWatcher watcher(kHoldMs);
  std::vector<Process> phases;
  for (int i = 0; i < 3; ++i)
    phases.emplace_back(PhaseCommand("StartPrinterInstallation", kArguments));
  for (Process& phase : phases) EXPECT_TRUE(phase.Wait(90000)) << "a phase did not end";
  std::vector<Box> boxes = watcher.Stop();
  ASSERT_EQ(boxes.size(), 3u);
  std::sort(boxes.begin(), boxes.end(),
            [](const Box& a, const Box& b) { return a.found_ms < b.found_ms; });
  for (size_t i = 0; i < boxes.size(); ++i) {
    std::printf("box %zu of process %lu: found %lu, pressed %lu\n", i, boxes[i].pid,
                boxes[i].found_ms - boxes[0].found_ms, boxes[i].pressed_ms - boxes[0].found_ms);
    EXPECT_EQ(boxes[i].text, kCleanupFailed);
    if (i == 0) continue;
    EXPECT_NE(boxes[i].pid, boxes[i - 1].pid);
    // The next holder shows its box only after the one before was pressed
    // and its process released the lock, then sleeps a second.
    EXPECT_GE(boxes[i].found_ms, boxes[i - 1].pressed_ms + 900) << "box " << i << " came too early";
  }
}

}  // namespace
}  // namespace kxwine
