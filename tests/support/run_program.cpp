#include "run_program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace kxtest {

ProgramRun RunProgram(const std::vector<std::string>& argv) {
  std::unique_ptr<FILE, int (*)(FILE*)> output(std::tmpfile(), &std::fclose);
  if (!output || argv.empty()) return {};
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) return {};
  if (child == 0) {
    dup2(fileno(output.get()), 1);
    dup2(fileno(output.get()), 2);
    execv(args[0], args.data());
    _exit(127);
  }
  ProgramRun run;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::rewind(output.get());
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, output.get())) > 0;)
    run.output.append(buffer, got);
  return run;
}

}  // namespace kxtest
