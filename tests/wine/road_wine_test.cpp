// The installation's roads with Wine's own rundll32, registry, events,
// spooler and profile files.
#include <gtest/gtest.h>

#include "installation_checks.h"
#include "wine_machine.h"

namespace kxwine {
namespace {

const std::string kArguments = std::string(kDeviceKey) + " " + kSource;

std::string Programs(const Observed& observed) {
  std::string list;
  for (const std::string& program : observed.programs) list += "\n  " + program;
  return list;
}

void ExpectConfigFlagsWritten() {
  std::optional<RegistryValue> flags = QueryValue(kDeviceKey, "ConfigFlags");
  ASSERT_TRUE(flags) << "ConfigFlags is missing";
  EXPECT_EQ(flags->type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(flags->data, std::string(4, '\0'));
}

// Setup.Exe finds WIN95.INF in its own directory, and only the source
// directory has one: the INF copy shows which Setup.Exe ran. The processes
// seen (a short run may slip between two looks) add what they show.
void ExpectSetupRanFrom(const Observed& observed, const std::string& source,
                        const std::string& inf_name) {
  std::printf("programs seen:%s\n", Programs(observed).c_str());
  EXPECT_TRUE(observed.quiet) << "the installation's processes still run";
  for (const std::string& program : observed.programs) {
    if (Lower(FileNameOf(program)) == "setup.exe") {
      EXPECT_EQ(Lower(program), Lower(source + "\\Setup.Exe"));
    }
  }
  ExpectFailureLogMatchesSpooler();
  ExpectStatusMonitorCaptions();
  ExpectInfCopied(inf_name, SampleInf());
}

TEST(Road, WithNoShell) {
  PrepareInstallation();
  BoxWatcher watcher;
  RunToEnd(PhaseCommand("SchedulePrinterInstallation", kArguments));

  ExpectConfigFlagsWritten();
  std::optional<RegistryValue> run = QueryValue(kRunKey, kModel);
  ASSERT_TRUE(run) << "the first phase left no Run value";
  EXPECT_EQ(run->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(run->data, "RunDLL32 KX51PNP,StartPrinterInstallation " + kArguments + '\0');

  std::string inf_name = FirstFreeOemInf(TakenOemInfs());
  InstallationObserver observer;
  Shell shell;
  Observed observed = observer.Finish();
  EXPECT_FALSE(QueryValue(kRunKey, kModel)) << "the second phase left the Run value";
  ExpectConfigFlagsWritten();
  ExpectSetupRanFrom(observed, kSource, inf_name);
  EXPECT_TRUE(watcher.Stop().empty());
}

TEST(Road, WithTheShellRunning) {
  PrepareInstallation();
  BoxWatcher watcher;
  Shell shell;
  std::string inf_name = FirstFreeOemInf(TakenOemInfs());
  InstallationObserver observer;
  DWORD start = GetTickCount();
  Process first(PhaseCommand("SchedulePrinterInstallation", kArguments));
  EXPECT_EQ(first.Wait(60000), std::optional<DWORD>(0));
  std::printf("first phase ended after %lu ms\n", GetTickCount() - start);
  Observed observed = observer.Finish();
  std::printf("installation ended after %lu ms\n", GetTickCount() - start);
  EXPECT_FALSE(observed.run_value_seen) << "a Run value was written";
  ExpectConfigFlagsWritten();
  ExpectSetupRanFrom(observed, kSource, inf_name);
  EXPECT_TRUE(watcher.Stop().empty());
}

// The platform tries "C:\\Program.exe" first for an unquoted command line
// that starts with "C:\\Program Files\\...". The road without a shell.
TEST(Road, SourceUnderProgramFilesStartsSetupNotAProgramPlantedAbove) {
  const std::string source = "C:\\Program Files\\KX51 Source";
  PrepareInstallation(source);
  ASSERT_TRUE(CopyFileA((BuildDirectory() + "probe.exe").c_str(), "C:\\Program.exe", FALSE));
  BoxWatcher watcher;
  RunToEnd(PhaseCommand("SchedulePrinterInstallation", std::string(kDeviceKey) + " " + source));
  std::string inf_name = FirstFreeOemInf(TakenOemInfs());
  InstallationObserver observer;
  Shell shell;
  Observed observed = observer.Finish();
  std::optional<std::string> planted = ReadWholeFile("C:\\kxprobe.log");
  EXPECT_FALSE(planted) << "C:\\Program.exe was started: " << planted.value_or("");
  ExpectSetupRanFrom(observed, source, inf_name);
  EXPECT_TRUE(watcher.Stop().empty());
}

TEST(Road, UninstallRemovesTheDeviceKeyAndEverythingBeneathIt) {
  PrepareDevice();
  SetValue(std::string(kDeviceKey) + "\\0000\\Deeper", "Kept", REG_SZ, std::string("x") + '\0');
  SetValue(std::string(kDeviceKey) + "\\0001", "Other", REG_BINARY, "abc");
  SetValue("Enum\\LPTENUM\\OTHERDEVICE", "Model", REG_SZ, std::string("other") + '\0');
  Process uninstaller("\"" + BuildDirectory() + "uninstaller.exe\"");
  std::optional<DWORD> result = uninstaller.Wait(60000);
  EXPECT_EQ(result, std::optional<DWORD>(0)) << "the hooks' results (uninstaller's output)";
  EXPECT_FALSE(KeyExists(kDeviceKey));
  EXPECT_TRUE(KeyExists("Enum\\LPTENUM\\OTHERDEVICE")) << "a neighbour of the device key went";
}

}  // namespace
}  // namespace kxwine
