// Test programs that start themselves again as another process of the same
// machine: the child learns its role from KX_TEST_CHILD ("role arg..."),
// runs it from a static initializer before any test, and exits with the
// role's result. The parent sees the child through the machine's journal.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host.h"

extern char** environ;

namespace kxtest {

inline constexpr const char* kChildVariable = "KX_TEST_CHILD";

// Runs `role` and exits when this process was started as a child; returns 0
// in the parent. Meant for a namespace-scope initializer.
inline int RunIfChild(int (*role)(const std::vector<std::string>& words)) {
  const char* text = std::getenv(kChildVariable);
  if (!text || !*text) return 0;
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  std::exit(role(words));
}

// A child process of the test program; killed and reaped when it goes.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& role) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
      if (std::string(*entry).rfind(std::string(kChildVariable) + "=", 0) != 0)
        variables.push_back(*entry);
    variables.push_back(std::string(kChildVariable) + "=" + role);
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    char program[] = "/proc/self/exe";
    char* argv[] = {program, nullptr};
    if (posix_spawn(&pid_, program, nullptr, nullptr, argv, envp.data()) != 0) pid_ = 0;
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (running()) Kill();
  }

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !reaped_; }

  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }
  // Waits for the child's end; its exit code, or -signal.
  int Wait() {
    if (!reaped_) {
      int status = 0;
      waitpid(pid_, &status, 0);
      reaped_ = true;
      result_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    return result_;
  }
  // True when the child ended within `timeout`.
  bool Ended(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reaped_) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        result_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  pid_t pid_ = 0;
  bool reaped_ = false;
  int result_ = 0;
};

// Waits until process `pid` has journalled operation `op`; false after
// `timeout`.
inline bool JournalShows(pid_t pid, const std::string& op,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (const auto& entry : kxhost::ReadJournal())
      if (entry.pid == pid && entry.op == op) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kxtest
