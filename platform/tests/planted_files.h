// Files planted in a test machine under Windows names: host programs (shell
// scripts, links to host executables), host libraries and plain data.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host.h"

namespace kxtest {

inline std::filesystem::path PlantedPath(const std::string& windows_path) {
  auto host = kxhost::HostPath(windows_path);
  std::filesystem::create_directories(host.parent_path());
  return host;
}

inline void PlantData(const std::string& windows_path, const std::string& content) {
  std::ofstream(PlantedPath(windows_path), std::ios::binary) << content;
}

// A shell script as the program stored under `windows_path`.
inline void PlantScript(const std::string& windows_path, const std::string& body) {
  auto host = PlantedPath(windows_path);
  std::ofstream(host) << "#!/bin/sh\n" << body << "\n";
  chmod(host.c_str(), 0755);
}

// A program that writes its Windows path, command line and current
// directory, "|"-separated, as one line of "started.log" in the machine
// folder.
inline void PlantRecordingProgram(const std::string& windows_path) {
  PlantScript(windows_path,
              "printf '%s|%s|%s\\n' \"$KX51_PROGRAM\" \"$KX51_COMMAND_LINE\" \"$KX51_CWD\""
              " >> \"$KX51_MACHINE/started.log\"");
}

// A link to a host file (an executable or a library of the build).
inline void PlantLink(const std::string& windows_path, const std::filesystem::path& target) {
  std::filesystem::create_symlink(target, PlantedPath(windows_path));
}

inline void PlantCopy(const std::string& windows_path, const std::filesystem::path& source) {
  std::filesystem::copy_file(source, PlantedPath(windows_path),
                             std::filesystem::copy_options::overwrite_existing);
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> SplitFields(const std::string& line, char separator = '|') {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  for (std::string field; std::getline(stream, field, separator);) fields.push_back(field);
  return fields;
}

// Polls `condition` until it holds; false after `timeout`.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace kxtest
