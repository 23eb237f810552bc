// A fresh, empty machine folder for one test: KX51_MACHINE points at it
// while the object lives, and the process's store is reopened on it.
#pragma once

#include <filesystem>
#include <string>

namespace kxtest {

class TempMachine {
 public:
  TempMachine();
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  std::string previous_;
  bool had_previous_ = false;
};

}  // namespace kxtest
