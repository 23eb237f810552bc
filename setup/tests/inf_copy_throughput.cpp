// Times one INF copy on the machine that KX51_MACHINE names:
//   inf_copy_throughput <Windows directory of the source> <file name>
// The copy goes into the machine's INF directory; prints the source's size,
// the time and the throughput in MiB/s.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "host.h"
#include "setup.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <source directory (Windows path)> <file name>\n", argv[0]);
    return 2;
  }
  std::snprintf(ModuleDirectory, MAX_PATH, "%s\\", argv[1]);
  GetWindowsDirectoryA(InfDirectory, MAX_PATH);
  lstrcatA(InfDirectory, "\\INF");
  const std::string source = std::string(ModuleDirectory) + argv[2];
  std::error_code error;
  const auto size = std::filesystem::file_size(kxhost::HostPath(source), error);
  if (error) {
    std::fprintf(stderr, "no source file %s\n", source.c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const int result = InstallInfFile(argv[2]);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("result %d, %ju bytes in %.3f s: %.1f MiB/s\n", result, static_cast<uintmax_t>(size),
              seconds, size / seconds / (1024.0 * 1024.0));
  return result == 1 ? 0 : 1;
}
