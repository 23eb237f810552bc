// The setup program as its own process, started as A:\Setup.Exe from the
// installation source: its exit code and what one run leaves.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "setup_machine.h"

extern char** environ;

namespace {

using setuptest::ReadBytes;

class Program : public setuptest::SetupMachine {
 protected:
  void SetUp() override {
    SetupMachine::SetUp();
    const auto source = kxhost::HostPath("A:\\");
    std::filesystem::create_directories(source);
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(KX_SOURCE_DIR) / "setup" / "sample"))
      std::filesystem::copy_file(entry.path(), source / entry.path().filename());
    // A link in the machine counts as the program's file.
    std::filesystem::create_symlink(std::filesystem::path(KX_BIN_DIR) / "setup",
                                    source / "Setup.Exe");
  }

  // Runs A:\Setup.Exe with `arguments`; its exit code, -1 when it did not end
  // normally.
  int Run(std::vector<std::string> arguments = {}) {
    const std::string program = kxhost::HostPath("A:\\Setup.Exe").string();
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(Program, InstallsThePrinterWritesTheCaptionsAndCopiesTheInf) {
  EXPECT_EQ(Run({"ignored", "arguments"}), 0);

  const auto printers = kxhost::Printers();
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, setuptest::kPrinterName);
  EXPECT_TRUE(printers[0].is_default);
  EXPECT_EQ(InfDirectoryNames(), std::vector<std::string>{"OEM0.INF"});
  EXPECT_EQ(ReadBytes(kxhost::HostPath("C:\\WINDOWS\\INF\\OEM0.INF")),
            ReadBytes(kxhost::HostPath("A:\\WIN95.INF")));  // already CR LF
  EXPECT_EQ(LoggedErrors(),
            (std::map<std::string, std::string>{{"AddMonitor", "Error code : 87"}}));

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(InfDirectoryNames(), (std::vector<std::string>{"OEM0.INF", "OEM1.INF"}));
  EXPECT_EQ(kxhost::Printers().size(), 1u);
}

TEST_F(Program, ExitsWithZeroWhenEverythingFails) {
  for (const char* op :
       {"OpenPrinterA", "DeletePrinter", "ClosePrinter", "AddMonitorA", "AddPrinterDriverA",
        "AddPrinterA", "GetPrinterA", "SetPrinterA", "RegCreateKeyA", "WritePrivateProfileStringA",
        "CreateFileA", "GetFileAttributesA"})
    kxhost::ArmFault(op, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(kxhost::Printers().empty());
  EXPECT_TRUE(InfDirectoryNames().empty());
  EXPECT_FALSE(std::filesystem::exists(FailureLogFile()));
}

}  // namespace
