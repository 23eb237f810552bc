// Starting processes: finding the program as the platform does, what the
// started program learns, the processes table, and no zombies left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "host.h"
#include "planted_files.h"
#include "temp_machine.h"

extern char** environ;

namespace {

// This test program started again through the platform (planted as
// C:\KX\Child.exe) writes what it learns of itself into "child.log" of its
// machine and exits with the number its last argument gives.
int RunAsStartedChild() {
  if (!kxhost::StartedThroughPlatform()) return 0;
  char module[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, module, sizeof module);
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof directory, directory);
  std::ofstream(kxhost::MachineDir() / "child.log", std::ios::binary) << module << "\n"
                                                                      << GetCommandLineA() << "\n"
                                                                      << directory << "\n";
  auto arguments =
      kxhost::SplitCommandLineArguments(kxhost::CommandLineArguments(GetCommandLineA()));
  std::exit(arguments.empty() ? 0 : std::atoi(arguments.back().c_str()));
}
const int started_child = RunAsStartedChild();

std::filesystem::path ThisProgram() { return std::filesystem::read_symlink("/proc/self/exe"); }

std::filesystem::path StartedLog() { return kxhost::MachineDir() / "started.log"; }

// Starts through CreateProcessA, waits for the end and closes the handles.
BOOL StartAndWait(LPCSTR application, const std::string& command_line, DWORD* exit_code = nullptr,
                  LPCSTR current_directory = nullptr) {
  std::string writable = command_line;
  STARTUPINFOA startup{};
  startup.cb = KX_STARTUPINFOA_SIZE_32;
  PROCESS_INFORMATION information{};
  if (!CreateProcessA(application, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      current_directory, &startup, &information))
    return FALSE;
  EXPECT_EQ(WaitForSingleObject(information.hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
  if (exit_code) {
    EXPECT_TRUE(GetExitCodeProcess(information.hProcess, exit_code));
  }
  CloseHandle(information.hThread);
  CloseHandle(information.hProcess);
  return TRUE;
}

struct SearchCase {
  const char* name;
  std::vector<std::string> programs;  // planted recording programs; "!" first: plain data
  const char* application;
  const char* command_line;
  const char* started;  // Windows path of the program started, or null
  DWORD error;
};

TEST(CreateProcessA, FindsTheProgramAsThePlatform) {
  const SearchCase cases[] = {
      {"unquoted with blanks: the first prefix that names a program",
       {"C:\\Program.exe", "C:\\Program Files\\KX\\Setup.Exe"},
       nullptr,
       "C:\\Program Files\\KX\\Setup.Exe",
       "C:\\Program.exe",
       0},
      {"the application name is taken whole",
       {"C:\\Program.exe", "C:\\Program Files\\KX\\Setup.Exe"},
       "C:\\Program Files\\KX\\Setup.Exe",
       "C:\\Program Files\\KX\\Setup.Exe",
       "C:\\Program Files\\KX\\Setup.Exe",
       0},
      {"a quoted name is taken whole",
       {"C:\\Program.exe", "C:\\Program Files\\KX\\Setup.Exe"},
       nullptr,
       "\"C:\\Program Files\\KX\\Setup.Exe\" /x",
       "C:\\Program Files\\KX\\Setup.Exe",
       0},
      {"unquoted, no shorter prefix names a program",
       {"C:\\Program Files\\KX\\Setup.Exe"},
       nullptr,
       "C:\\Program Files\\KX\\Setup.Exe",
       "C:\\Program Files\\KX\\Setup.Exe",
       0},
      {"a prefix before the arguments",
       {"C:\\KX\\Tool.exe"},
       nullptr,
       "C:\\KX\\Tool.exe one two",
       "C:\\KX\\Tool.exe",
       0},
      {".exe added to a name without extension",
       {"C:\\KX\\Tool.exe"},
       nullptr,
       "C:\\KX\\Tool arg",
       "C:\\KX\\Tool.exe",
       0},
      {"names found regardless of case",
       {"C:\\KX\\Setup.Exe"},
       nullptr,
       "c:\\kx\\SETUP.EXE",
       "C:\\kx\\SETUP.EXE",
       0},
      {"a relative path from the current directory",
       {"A:\\KX\\Sub\\Tool.exe"},
       nullptr,
       "Sub\\Tool.exe",
       "A:\\KX\\Sub\\Tool.exe",
       0},
      {"bare name: the current directory before the system directory",
       {"A:\\KX\\Tool.exe", "C:\\WINDOWS\\SYSTEM\\Tool.exe"},
       nullptr,
       "Tool",
       "A:\\KX\\Tool.exe",
       0},
      {"bare name: the system directory before the Windows directory",
       {"C:\\WINDOWS\\SYSTEM\\Tool.exe", "C:\\WINDOWS\\Tool.exe"},
       nullptr,
       "Tool",
       "C:\\WINDOWS\\SYSTEM\\Tool.exe",
       0},
      {"bare name: the Windows directory before PATH",
       {"C:\\WINDOWS\\Tool.exe", "C:\\WINDOWS\\COMMAND\\Tool.exe"},
       nullptr,
       "Tool",
       "C:\\WINDOWS\\Tool.exe",
       0},
      {"bare name: PATH last",
       {"C:\\WINDOWS\\COMMAND\\Tool.exe"},
       nullptr,
       "tool.exe",
       "C:\\WINDOWS\\COMMAND\\tool.exe",
       0},
      {"no such program", {}, nullptr, "C:\\KX\\None.exe", nullptr, ERROR_FILE_NOT_FOUND},
      {"no such bare name", {}, nullptr, "None", nullptr, ERROR_FILE_NOT_FOUND},
      {"the application name gets no extension",
       {"C:\\KX\\Tool.exe"},
       "C:\\KX\\Tool",
       "C:\\KX\\Tool",
       nullptr,
       ERROR_FILE_NOT_FOUND},
      {"the application name in a missing directory",
       {},
       "C:\\None\\Tool.exe",
       "Tool.exe",
       nullptr,
       ERROR_PATH_NOT_FOUND},
      {"a file that is no program",
       {"!C:\\KX\\Data.exe"},
       nullptr,
       "C:\\KX\\Data.exe",
       nullptr,
       ERROR_BAD_EXE_FORMAT},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    kxtest::TempMachine machine;
    std::filesystem::create_directories(kxhost::HostPath("A:\\KX"));
    ASSERT_TRUE(SetCurrentDirectoryA("A:\\KX"));
    for (const auto& program : row.programs) {
      if (program[0] == '!')
        kxtest::PlantData(program.substr(1), "no program");
      else
        kxtest::PlantRecordingProgram(program);
    }
    SetLastError(0xDEAD);
    BOOL started = StartAndWait(row.application, row.command_line);
    if (!row.started) {
      EXPECT_FALSE(started);
      EXPECT_EQ(GetLastError(), row.error);
      EXPECT_TRUE(kxhost::StartedProcesses().empty());
      continue;
    }
    ASSERT_TRUE(started) << GetLastError();
    auto lines = kxtest::ReadLines(StartedLog());
    ASSERT_EQ(lines.size(), 1u);
    auto fields = kxtest::SplitFields(lines[0]);
    ASSERT_EQ(fields.size(), 3u) << lines[0];
    EXPECT_EQ(fields[0], row.started);
    EXPECT_EQ(fields[1], row.command_line);
    EXPECT_EQ(fields[2], "A:\\KX");
    auto recorded = kxhost::StartedProcesses();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].program, row.started);
  }
}

class StartedChild : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::PlantLink("C:\\KX\\Child.exe", ThisProgram());
    std::filesystem::create_directories(kxhost::HostPath("A:\\Source Dir"));
  }
  std::vector<std::string> ChildLog() { return kxtest::ReadLines(machine_.dir() / "child.log"); }

  kxtest::TempMachine machine_;
};

TEST_F(StartedChild, LearnsItsPathCommandLineAndDirectory) {
  ASSERT_TRUE(SetCurrentDirectoryA("A:\\Source Dir"));
  // Odd spacing and quotes reach the child unchanged.
  const std::string command = "\"C:\\KX\\Child.exe\"  two  \"three four\" 7";
  DWORD exit_code = 0;
  ASSERT_TRUE(StartAndWait(nullptr, command, &exit_code));
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(ChildLog(), (std::vector<std::string>{"C:\\KX\\Child.exe", command, "A:\\Source Dir"}));
}

TEST_F(StartedChild, GetsTheCurrentDirectoryItIsGiven) {
  DWORD exit_code = 0;
  ASSERT_TRUE(StartAndWait(nullptr, "c:\\kx\\child 3", &exit_code, "C:\\KX"));
  EXPECT_EQ(exit_code, 3u);
  EXPECT_EQ(ChildLog(),
            (std::vector<std::string>{"C:\\kx\\child.exe", "c:\\kx\\child 3", "C:\\KX"}));

  std::string command = "C:\\KX\\Child.exe";
  PROCESS_INFORMATION information{};
  STARTUPINFOA startup{};
  SetLastError(0xDEAD);
  EXPECT_FALSE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              "C:\\None", &startup, &information));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(StartedChild, WaitTimesOutWhileTheProcessRuns) {
  kxtest::PlantScript("C:\\KX\\Wait.exe",
                      "while [ ! -e \"$KX51_MACHINE/go\" ]; do sleep 0.01; done; exit 5");
  std::string command = "C:\\KX\\Wait.exe";
  STARTUPINFOA startup{};
  PROCESS_INFORMATION information{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &information));
  DWORD exit_code = 0;
  EXPECT_EQ(WaitForSingleObject(information.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(GetExitCodeProcess(information.hProcess, &exit_code));
  EXPECT_EQ(exit_code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_TRUE(kxhost::AnyProcessAlive());
  std::ofstream(machine_.dir() / "go") << "";
  EXPECT_EQ(WaitForSingleObject(information.hThread, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(GetExitCodeProcess(information.hProcess, &exit_code));
  EXPECT_EQ(exit_code, 5u);
  // The thread handle is no process handle.
  EXPECT_FALSE(GetExitCodeProcess(information.hThread, &exit_code));
  CloseHandle(information.hThread);
  CloseHandle(information.hProcess);
  EXPECT_FALSE(kxhost::AnyProcessAlive());
}

TEST(WinExec, StartsWithoutWaitingAndGivesErrorsAsItsResult) {
  kxtest::TempMachine machine;
  kxtest::PlantScript("C:\\KX\\Wait.exe",
                      "while [ ! -e \"$KX51_MACHINE/go\" ]; do sleep 0.01; done");
  kxtest::PlantData("C:\\KX\\Data.exe", "no program");
  EXPECT_GT(WinExec("C:\\KX\\Wait.exe /a", SW_SHOWNA), 31u);
  EXPECT_TRUE(kxhost::AnyProcessAlive());  // returned while the program runs
  std::ofstream(machine.dir() / "go") << "";
  EXPECT_TRUE(kxtest::Eventually([] { return !kxhost::AnyProcessAlive(); }));

  EXPECT_EQ(WinExec("C:\\KX\\None.exe", SW_SHOWNA), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(WinExec("C:\\KX\\Data.exe", SW_SHOWNA), static_cast<UINT>(ERROR_BAD_FORMAT));
  kxhost::ArmFault("WinExec", ERROR_NOT_ENOUGH_MEMORY, "*wait*", 1);
  EXPECT_EQ(WinExec("C:\\KX\\Wait.exe", SW_SHOWNA), static_cast<UINT>(ERROR_NOT_ENOUGH_MEMORY));

  std::vector<std::string> results;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.op == "WinExec") results.push_back(entry.detail + " -> " + entry.result);
  ASSERT_EQ(results.size(), 3u);  // the fault is journaled as a fault
  EXPECT_EQ(results[0].rfind("C:\\KX\\Wait.exe /a -> C:\\KX\\Wait.exe pid ", 0), 0u) << results[0];
  EXPECT_EQ(results[1], "C:\\KX\\None.exe -> error 2");
}

TEST(CreateProcessA, FaultArgumentIsTheApplicationAndTheCommandLine) {
  kxtest::TempMachine machine;
  kxtest::PlantRecordingProgram("A:\\KX\\Setup.Exe");
  kxhost::ArmFault("CreateProcessA", ERROR_NOT_ENOUGH_MEMORY, "A:\\KX\\Setup.Exe \"A:\\KX*", 1);
  SetLastError(0);
  EXPECT_FALSE(StartAndWait("A:\\KX\\Setup.Exe", "\"A:\\KX\\Setup.Exe\""));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_TRUE(StartAndWait("A:\\KX\\Setup.Exe", "\"A:\\KX\\Setup.Exe\""));
  kxhost::ArmFault("CreateProcessA", ERROR_ACCESS_DENIED, "A:\\KX\\Setup.Exe", 1);
  EXPECT_FALSE(StartAndWait(nullptr, "A:\\KX\\Setup.Exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(Processes, RecordsEveryStart) {
  kxtest::TempMachine machine;
  kxtest::PlantRecordingProgram("C:\\KX\\Tool.exe");
  std::filesystem::create_directories(kxhost::HostPath("A:\\"));
  ASSERT_TRUE(SetCurrentDirectoryA("A:\\"));
  ASSERT_TRUE(StartAndWait(nullptr, "C:\\KX\\Tool.exe x", nullptr, "C:\\KX"));
  ASSERT_GT(WinExec("C:\\KX\\Tool.exe y", SW_SHOWNA), 31u);
  auto started = kxhost::StartedProcesses();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0].how, "CreateProcessA");
  EXPECT_EQ(started[0].command_line, "C:\\KX\\Tool.exe x");
  EXPECT_EQ(started[0].current_directory, "C:\\KX");
  EXPECT_EQ(started[1].how, "WinExec");
  EXPECT_EQ(started[1].command_line, "C:\\KX\\Tool.exe y");
  EXPECT_EQ(started[1].current_directory, "A:\\");
  for (const auto& process : started) {
    EXPECT_EQ(process.program, "C:\\KX\\Tool.exe");
    EXPECT_EQ(process.parent_pid, getpid());
    EXPECT_GT(process.process.pid, 0);
    EXPECT_GT(process.time_us, 0);
  }
}

// The children of this process that have ended and not been reaped.
int Zombies() {
  int zombies = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && state == 'Z' &&
        parent == getpid())
      ++zombies;
  }
  return zombies;
}

TEST(Processes, LeaveNoZombiesBehind) {
  kxtest::TempMachine machine;
  kxtest::PlantScript("C:\\KX\\Quick.exe", "exit 0");
  for (int i = 0; i < 10; ++i) {
    ASSERT_GT(WinExec("C:\\KX\\Quick.exe", SW_SHOWNA), 31u);
    std::string command = "C:\\KX\\Quick.exe";
    STARTUPINFOA startup{};
    PROCESS_INFORMATION information{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &information));
    CloseHandle(information.hThread);
    CloseHandle(information.hProcess);  // closed before the end: still reaped
  }
  EXPECT_TRUE(kxtest::Eventually([] { return !kxhost::AnyProcessAlive() && Zombies() == 0; }))
      << Zombies() << " zombies";
}

TEST(Processes, ProgramStartedByHandRegistersItself) {
  kxtest::TempMachine machine;
  kxhost::ReadJournal();  // the machine's store exists
  std::string program = ThisProgram().string();
  std::string list = "--gtest_list_tests";
  char* argv[] = {program.data(), list.data(), nullptr};
  pid_t pid = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  auto started = kxhost::StartedProcesses();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].process.pid, pid);
  EXPECT_EQ(started[0].how, "self");
  EXPECT_EQ(started[0].program, "");  // its host file lies outside the machine
  EXPECT_EQ(started[0].parent_pid, getpid());
  EXPECT_NE(started[0].command_line.find("--gtest_list_tests"), std::string::npos);
}

struct DirectoryCase {
  const char* path;
  BOOL result;
  DWORD error;
  const char* current;
};

TEST(SetCurrentDirectoryA, AcceptsExistingDirectoriesOnly) {
  kxtest::TempMachine machine;
  kxtest::PlantData("C:\\KX\\File.txt", "x");
  const DirectoryCase cases[] = {
      {"C:\\", TRUE, 0, "C:\\"},
      {"c:\\kx\\", TRUE, 0, "C:\\kx"},
      {"..", TRUE, 0, "C:\\"},
      {"C:\\KX\\None", FALSE, ERROR_FILE_NOT_FOUND, "C:\\"},
      {"C:\\None\\Deeper", FALSE, ERROR_PATH_NOT_FOUND, "C:\\"},
      {"C:\\KX\\File.txt", FALSE, ERROR_DIRECTORY, "C:\\"},
  };
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
  for (const auto& row : cases) {
    SetLastError(0xDEAD);
    EXPECT_EQ(SetCurrentDirectoryA(row.path), row.result) << row.path;
    if (!row.result) {
      EXPECT_EQ(GetLastError(), row.error) << row.path;
    }
    char current[MAX_PATH] = "poison";
    EXPECT_EQ(GetCurrentDirectoryA(sizeof current, current), std::strlen(row.current)) << row.path;
    EXPECT_STREQ(current, row.current) << row.path;
  }
  kxhost::ArmFault("SetCurrentDirectoryA", ERROR_ACCESS_DENIED, "*KX*", 1);
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\KX"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(GetCurrentDirectoryA, GivesTheSizeNeededWhenTheBufferIsSmall) {
  kxtest::TempMachine machine;
  std::filesystem::create_directories(kxhost::HostPath("C:\\KX"));
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\KX"));
  char buffer[8] = "poison";
  EXPECT_EQ(GetCurrentDirectoryA(5, buffer), 6u);  // "C:\KX" and its zero
  EXPECT_STREQ(buffer, "poison");
  EXPECT_EQ(GetCurrentDirectoryA(6, buffer), 5u);
  EXPECT_STREQ(buffer, "C:\\KX");
}

TEST(CommandLines, SplitAsThePlatformsRuntime) {
  struct Case {
    const char* command_line;
    const char* arguments;
    std::vector<std::string> split;
  };
  const Case cases[] = {
      {"prog a b", "a b", {"a", "b"}},
      {"\"C:\\Program Files\\x.exe\"  a", "a", {"a"}},
      {"prog", "", {}},
      {"prog\t \t", "", {}},
      {"pr\"o g\"x y", "y", {"y"}},
      {"p \"a b\" c\\\"d \"e\"\"f\" g\\\\\"h i\"",
       "\"a b\" c\\\"d \"e\"\"f\" g\\\\\"h i\"",
       {"a b", "c\"d", "e\"f", "g\\h i"}},
      {"p a\\\\b", "a\\\\b", {"a\\\\b"}},
  };
  for (const auto& row : cases) {
    EXPECT_STREQ(kxhost::CommandLineArguments(row.command_line), row.arguments) << row.command_line;
    EXPECT_EQ(kxhost::SplitCommandLineArguments(kxhost::CommandLineArguments(row.command_line)),
              row.split)
        << row.command_line;
  }
}

}  // namespace
