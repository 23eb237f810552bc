// regedit: REGEDIT4 import and export.
//   regedit FILE.reg                 imports the file
//   regedit /e FILE.reg [KEY]        exports KEY (default HKEY_LOCAL_MACHINE)
#include <fstream>
#include <iostream>
#include <string>

#include "reg_file.h"

int main(int argc, char** argv) {
  std::string first = argc > 1 ? argv[1] : "";
  if ((first == "/e" || first == "/E" || first == "-e") && argc >= 3 && argc <= 4) {
    std::string key = argc == 4 ? argv[3] : "HKEY_LOCAL_MACHINE";
    std::ofstream out(argv[2], std::ios::binary);
    if (!out) {
      std::cerr << "regedit: cannot write " << argv[2] << "\n";
      return 1;
    }
    std::string error = regfile::Export(key, out);
    if (!error.empty()) {
      std::cerr << "regedit: " << error << "\n";
      return 1;
    }
    return 0;
  }
  if (argc == 2 && first[0] != '/' && first[0] != '-') {
    std::ifstream in(first, std::ios::binary);
    if (!in) {
      std::cerr << "regedit: cannot read " << first << "\n";
      return 1;
    }
    std::string error = regfile::Import(in);
    if (!error.empty()) {
      std::cerr << "regedit: " << first << ": " << error << "\n";
      return 1;
    }
    return 0;
  }
  std::cerr << "usage: regedit FILE.reg | regedit /e FILE.reg [KEY]\n";
  return 2;
}
