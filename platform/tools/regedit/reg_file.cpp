#include "reg_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

namespace regfile {
namespace {

struct RootName {
  const char* name;
  HKEY key;
};

const RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
};

using kxtools::UniqueKey;

bool SplitRoot(const std::string& path, HKEY* root, std::string* below) {
  for (const auto& candidate : kRoots) {
    size_t length = std::strlen(candidate.name);
    if (path.compare(0, length, candidate.name) == 0 &&
        (path.size() == length || path[length] == '\\')) {
      *root = candidate.key;
      *below = path.size() > length ? path.substr(length + 1) : std::string();
      return true;
    }
  }
  return false;
}

std::string Trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(start, end - start + 1);
}

// A quoted text starting at `text[*pos]` ("), with \\ and \" escapes.
bool ReadQuoted(const std::string& text, size_t* pos, std::string* out) {
  if (*pos >= text.size() || text[*pos] != '"') return false;
  out->clear();
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      out->push_back(text[++i]);
    } else if (text[i] == '"') {
      *pos = i + 1;
      return true;
    } else {
      out->push_back(text[i]);
    }
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>* bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!digits.empty()) {
        if (digits.size() > 2) return false;
        bytes->push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
        digits.clear();
      }
    } else if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits.push_back(c);
    } else {
      return false;
    }
  }
  if (!digits.empty()) {
    if (digits.size() > 2) return false;
    bytes->push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
  }
  return true;
}

// The data part of a value line: "text", dword:, hex:, hex(N):.
bool ParseData(const std::string& data, DWORD* type, std::vector<BYTE>* bytes) {
  bytes->clear();
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!ReadQuoted(data, &pos, &text) || !Trim(data.substr(pos)).empty()) return false;
    *type = REG_SZ;
    bytes->assign(text.begin(), text.end());
    bytes->push_back(0);
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return false;
    DWORD value = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
    *type = REG_DWORD;
    for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<BYTE>(value >> (8 * i)));
    return true;
  }
  if (data.compare(0, 4, "hex:") == 0) {
    *type = REG_BINARY;
    return ParseHexBytes(data.substr(4), bytes);
  }
  if (data.compare(0, 4, "hex(") == 0) {
    size_t close = data.find("):");
    if (close == std::string::npos) return false;
    std::string number = data.substr(4, close - 4);
    if (number.empty() || number.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return false;
    *type = static_cast<DWORD>(std::stoul(number, nullptr, 16));
    return ParseHexBytes(data.substr(close + 2), bytes);
  }
  return false;
}

std::string AtLine(int line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

void WriteQuoted(std::ostream& out, const std::string& text) {
  out << '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out << '\\';
    out << c;
  }
  out << '"';
}

void WriteHex(std::ostream& out, const char* prefix, const std::vector<BYTE>& bytes) {
  out << prefix;
  size_t column = std::strlen(prefix);
  char hex[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    out << hex;
    column += 2;
    if (i + 1 < bytes.size()) {
      out << ',';
      ++column;
      if (column > 76) {
        out << "\\\r\n  ";
        column = 2;
      }
    }
  }
}

void WriteValue(std::ostream& out, const std::string& name, DWORD type,
                const std::vector<BYTE>& data) {
  if (name.empty())
    out << '@';
  else
    WriteQuoted(out, name);
  out << '=';
  // Text that round-trips as "...": one terminating zero, none inside.
  bool plain_text = type == REG_SZ && !data.empty() && data.back() == 0 &&
                    std::find(data.begin(), data.end() - 1, 0) == data.end() - 1;
  if (plain_text) {
    WriteQuoted(out, std::string(data.begin(), data.end() - 1));
  } else if (type == REG_DWORD && data.size() == 4) {
    char text[16];
    std::snprintf(text, sizeof text, "dword:%02x%02x%02x%02x", data[3], data[2], data[1], data[0]);
    out << text;
  } else if (type == REG_BINARY) {
    WriteHex(out, "hex:", data);
  } else {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "hex(%lx):", static_cast<unsigned long>(type));
    WriteHex(out, prefix, data);
  }
  out << "\r\n";
}

std::string ExportKey(HKEY key, const std::string& path, std::ostream& out) {
  out << "[" << path << "]\r\n";
  std::vector<kxtools::RegistryValue> values;
  LONG status = kxtools::ReadRegistryValues(key, &values);
  if (status != ERROR_SUCCESS)
    return path + ": cannot read values (" + std::to_string(status) + ")";
  for (const auto& value : values) WriteValue(out, value.name, value.type, value.data);
  out << "\r\n";
  char child[MAX_PATH + 1];
  for (DWORD index = 0; RegEnumKeyA(key, index, child, sizeof child) == ERROR_SUCCESS; ++index) {
    UniqueKey sub;
    if (RegOpenKeyA(key, child, sub.put()) != ERROR_SUCCESS) continue;
    std::string error = ExportKey(sub.get(), path + "\\" + child, out);
    if (!error.empty()) return error;
  }
  return std::string();
}

}  // namespace

std::string Import(std::istream& input) {
  std::string raw;
  std::getline(input, raw);
  if (Trim(raw) != "REGEDIT4") return AtLine(1, "not a REGEDIT4 file");
  UniqueKey current;
  bool in_key = false;
  int line_number = 1;
  while (std::getline(input, raw)) {
    ++line_number;
    int first_line = line_number;
    std::string line = Trim(raw);
    // A value's hex bytes may go on over lines ending in a backslash.
    while (!line.empty() && line.back() == '\\' && std::getline(input, raw)) {
      ++line_number;
      line.pop_back();
      line += Trim(raw);
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return AtLine(first_line, "key without closing ]");
      std::string path = line.substr(1, line.size() - 2);
      bool remove = !path.empty() && path[0] == '-';
      if (remove) path.erase(0, 1);
      HKEY root = nullptr;
      std::string below;
      if (!SplitRoot(path, &root, &below)) return AtLine(first_line, "unknown root in " + path);
      current = UniqueKey();
      in_key = false;
      if (remove) {
        LONG status = DeleteRegistryTree(root, below.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
          return AtLine(first_line, "cannot delete " + path + " (" + std::to_string(status) + ")");
        continue;
      }
      LONG status = RegCreateKeyA(root, below.c_str(), current.put());
      if (status != ERROR_SUCCESS)
        return AtLine(first_line, "cannot create " + path + " (" + std::to_string(status) + ")");
      in_key = true;
      continue;
    }
    if (!in_key) return AtLine(first_line, "value outside a key");
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, &pos, &name)) {
      return AtLine(first_line, "bad value name");
    }
    if (pos >= line.size() || line[pos] != '=') return AtLine(first_line, "missing =");
    std::string data = Trim(line.substr(pos + 1));
    if (data == "-") {
      RegDeleteValueA(current.get(), name.c_str());
      continue;
    }
    DWORD type = 0;
    std::vector<BYTE> bytes;
    if (!ParseData(data, &type, &bytes)) return AtLine(first_line, "bad value data: " + data);
    LONG status =
        RegSetValueExA(current.get(), name.c_str(), 0, type, bytes.empty() ? nullptr : bytes.data(),
                       static_cast<DWORD>(bytes.size()));
    if (status != ERROR_SUCCESS)
      return AtLine(first_line, "cannot set " + name + " (" + std::to_string(status) + ")");
  }
  return std::string();
}

std::string Export(const std::string& key_path, std::ostream& out) {
  HKEY root = nullptr;
  std::string below;
  if (!SplitRoot(key_path, &root, &below)) return "unknown root in " + key_path;
  UniqueKey key;
  LONG status = RegOpenKeyA(root, below.c_str(), key.put());
  if (status != ERROR_SUCCESS) return key_path + ": cannot open (" + std::to_string(status) + ")";
  out << "REGEDIT4\r\n\r\n";
  // The root itself is handed back by RegOpenKeyA; the object closes it, which
  // the platform accepts for its predefined keys.
  return ExportKey(key.get(), key_path, out);
}

}  // namespace regfile
