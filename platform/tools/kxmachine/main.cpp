// The machine command: makes a machine ready for one installation, starts
// programs in it, and shows what happened there.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "host.h"
#include "kxmachine.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: kxmachine [--machine DIR] VERB ...\n"
    "  The machine is DIR, else $KX51_MACHINE, else ~/.kx51/machine.\n"
    "\n"
    "  create [--force] [--codepage N] [--box-delay MS] [--model TEXT] [--bin DIR]\n"
    "         [--setup-standin]\n"
    "        a new machine ready for one installation (--force replaces a machine)\n"
    "  run COMMAND LINE...      start a program in the machine, as WinExec does\n"
    "  wait [--timeout S]       until no process of the machine runs (default 120 s)\n"
    "  processes [--all]        the processes started in the machine (--all: and by hand)\n"
    "  journal [--all] [--plain]  the journal as a timeline, one column a process\n"
    "  keys [PATH]              registry keys and values below PATH of HKEY_LOCAL_MACHINE\n"
    "  printers                 printers, drivers, monitors and the default printer\n"
    "  boxes                    the message boxes shown\n"
    "  fault OP ERROR [MATCH] [COUNT]   arm a fault (COUNT -1: always); fault clear\n"
    "  where                    the machine folder\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

fs::path OwnDirectory() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path() : self.parent_path();
}

std::string Joined(const std::vector<std::string>& words, size_t from) {
  std::string text;
  for (size_t i = from; i < words.size(); ++i) {
    if (i > from) text += ' ';
    text += words[i];
  }
  return text;
}

int Create(const std::vector<std::string>& args) {
  kxmachine::CreateOptions options;
  options.bin_dir = OwnDirectory();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& word = args[i];
    bool has_value = i + 1 < args.size();
    if (word == "--force") {
      options.force = true;
    } else if (word == "--setup-standin") {
      options.setup_standin = true;
    } else if (word == "--codepage" && has_value) {
      options.code_page = args[++i];
    } else if (word == "--box-delay" && has_value) {
      options.box_delay_ms = args[++i];
    } else if (word == "--model" && has_value) {
      options.model = args[++i];
    } else if (word == "--bin" && has_value) {
      options.bin_dir = args[++i];
    } else {
      return Usage();
    }
  }
  return kxmachine::CreateMachine(options);
}

int Run(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  std::string command = Joined(args, 1);
  UINT result = WinExec(command.c_str(), SW_SHOWNORMAL);
  if (result <= 31) {
    std::fprintf(stderr, "kxmachine: could not start %s (WinExec gave %u)\n", command.c_str(),
                 result);
    return 1;
  }
  std::printf("started: %s\n", command.c_str());
  return 0;
}

int Wait(const std::vector<std::string>& args) {
  double timeout_s = 120;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--timeout" && i + 1 < args.size())
      timeout_s = std::strtod(args[++i].c_str(), nullptr);
    else
      return Usage();
  }
  const DWORD start = GetTickCount();
  while (kxhost::AnyProcessAlive()) {
    if (GetTickCount() - start >= timeout_s * 1000) {
      std::fprintf(stderr, "kxmachine: still running after %.0f s:\n", timeout_s);
      for (const auto& started : kxhost::StartedProcesses())
        if (kxhost::IsAlive(started.process))
          std::fprintf(stderr, "  pid %lld  %s\n", static_cast<long long>(started.process.pid),
                       started.command_line.c_str());
      return 1;
    }
    Sleep(100);
  }
  return 0;
}

// The processes started in the machine. A program that registered itself
// is shown once, under the start that made it; programs outside the machine
// started by hand (this command among them) only with --all.
int Processes(bool all) {
  auto started = kxhost::StartedProcesses();
  int shown = 0;
  for (const auto& process : started) {
    if (!all && process.how == "self") {
      bool started_by_platform = false;
      for (const auto& other : started)
        started_by_platform |= other.how != "self" && other.process.pid == process.process.pid &&
                               other.process.start == process.process.start;
      if (started_by_platform || process.program.empty()) continue;
    }
    std::printf(
        "pid %-7lld %-7s %-14s %s in %s\n    %s\n", static_cast<long long>(process.process.pid),
        kxhost::IsAlive(process.process) ? "running" : "ended", process.how.c_str(),
        process.program.empty() ? "(a program outside the machine)" : process.program.c_str(),
        process.current_directory.c_str(), kxmachine::Printable(process.command_line).c_str());
    ++shown;
  }
  if (!shown) std::printf("(no process was started)\n");
  return 0;
}

int Fault(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[1] == "clear") {
    kxhost::ClearFaults();
    std::printf("faults cleared\n");
    return 0;
  }
  if (args.size() < 3 || args.size() > 5) return Usage();
  char* end = nullptr;
  unsigned long error = std::strtoul(args[2].c_str(), &end, 0);
  if (*end) return Usage();
  std::string match = args.size() > 3 ? args[3] : "*";
  int count = args.size() > 4 ? std::atoi(args[4].c_str()) : -1;
  kxhost::ArmFault(args[1], static_cast<uint32_t>(error), match, count);
  std::printf("armed: %s fails with %lu when its argument matches \"%s\", %s\n", args[1].c_str(),
              error, match.c_str(),
              count < 0 ? "always" : (std::to_string(count) + " time(s)").c_str());
  return 0;
}

int Dispatch(const std::vector<std::string>& args) {
  const std::string& verb = args[0];
  if (verb == "create") return Create(args);
  if (verb == "run") return Run(args);
  if (verb == "wait") return Wait(args);
  if (verb == "processes" && args.size() <= 2) {
    if (args.size() == 2 && args[1] != "--all") return Usage();
    return Processes(args.size() == 2);
  }
  if (verb == "journal") {
    bool all = false, plain = false;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--all")
        all = true;
      else if (args[i] == "--plain")
        plain = true;
      else
        return Usage();
    }
    return kxmachine::ShowJournal(all, plain);
  }
  if (verb == "keys" && args.size() <= 2)
    return kxmachine::ShowKeys(args.size() == 2 ? args[1] : "");
  if (verb == "printers" && args.size() == 1) return kxmachine::ShowPrinters();
  if (verb == "boxes" && args.size() == 1) return kxmachine::ShowBoxes();
  if (verb == "fault") return Fault(args);
  if (verb == "where" && args.size() == 1) {
    std::printf("%s\n", kxhost::MachineDir().c_str());
    return 0;
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The machine is chosen before the verb; the processes started here
  // inherit it.
  while (!args.empty() && args[0] == "--machine") {
    if (args.size() < 2) return Usage();
    std::error_code error;
    fs::path dir = fs::absolute(args[1], error);
    setenv(kxhost::kMachineVariable, dir.c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") return Usage();
  kxhost::SetProcessLabel("kxmachine");
  try {
    return Dispatch(args);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kxmachine: %s\n", error.what());
    return 2;
  }
}
