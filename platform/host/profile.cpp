// Profile (INI) files: WritePrivateProfileStringA and
// GetPrivateProfileStringA on real files of the machine. Section and key
// names match regardless of letter case; a write keeps every other line as
// it was and ends every line with CR LF, as the platform writes them.
#include <cstring>
#include <fstream>
#include <sstream>

#include "host.h"

namespace {

using kxhost::MachineFile;

// A file name without a directory lies in the Windows directory.
MachineFile ProfileFile(LPCSTR file) {
  if (!file || !*file) return {};
  if (!std::strchr(file, '\\') && !std::strchr(file, '/') && !std::strchr(file, ':'))
    return kxhost::ResolveMachineFile((kxhost::WindowsDirectory() + "\\" + file).c_str());
  return kxhost::ResolveMachineFile(file);
}

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// One line of the file, and what it says.
struct Line {
  std::string text;  // without its line end
  bool is_section = false;
  std::string name;   // the section's or the key's name, trimmed
  std::string value;  // a key's value, trimmed
};

Line Parse(std::string text) {
  Line line;
  std::string_view trimmed = Trim(text);
  if (!trimmed.empty() && trimmed.front() == '[') {
    size_t close = trimmed.find(']');
    line.is_section = true;
    line.name = std::string(Trim(
        trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
  } else if (!trimmed.empty() && trimmed.front() != ';') {
    size_t equals = trimmed.find('=');
    if (equals != std::string_view::npos) {
      line.name = std::string(Trim(trimmed.substr(0, equals)));
      line.value = std::string(Trim(trimmed.substr(equals + 1)));
    } else {
      line.name = std::string(trimmed);
    }
  }
  line.text = std::move(text);
  return line;
}

// The lines of a profile file; false when it cannot be read (missing).
bool ReadLines(const std::filesystem::path& host, std::vector<Line>* lines) {
  std::ifstream in(host, std::ios::binary);
  if (!in) return false;
  std::stringstream content;
  content << in.rdbuf();
  const std::string text = content.str();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string one = text.substr(start, end - start);
    if (!one.empty() && one.back() == '\r') one.pop_back();
    lines->push_back(Parse(std::move(one)));
    start = end + 1;
  }
  return true;
}

// Writes the lines under a temporary name and renames it over the file, so
// that a reader never meets a half-written profile.
DWORD WriteLines(const std::filesystem::path& host, const std::vector<Line>& lines) {
  std::string text;
  for (const auto& line : lines) text += line.text + "\r\n";
  std::filesystem::path temporary = host;
  temporary += ".kxwrite";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return kxhost::FileErrorOf(errno, host);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return ERROR_WRITE_FAULT;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, host, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

// A section: its heading and the range [begin, end) of its lines; heading
// == lines.size() when there is no such section.
struct SectionRange {
  size_t heading;
  size_t begin;
  size_t end;
};
SectionRange FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].is_section || !kxhost::EqualsNoCase(lines[i].name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !lines[end].is_section) ++end;
    return {i, i + 1, end};
  }
  return {lines.size(), lines.size(), lines.size()};
}

bool IsKey(const Line& line, std::string_view key) {
  return !line.is_section && !line.name.empty() && kxhost::EqualsNoCase(line.name, key);
}

std::string Describe(const MachineFile& file, LPCSTR section, LPCSTR key, LPCSTR value) {
  std::string detail = file.windows + " [" + (section ? section : "") + "]";
  if (key) detail += std::string(" ") + key;
  if (value) detail += std::string("=") + value;
  return detail;
}

// Copies `items`, each followed by a zero, and one more zero, as the
// platform lists sections and keys; cut to fit, it gives size - 2.
DWORD CopyList(const std::vector<std::string>& items, LPSTR buffer, DWORD size) {
  std::string list;
  for (const auto& item : items) list += item + '\0';
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    if (list.empty() && size > 1) buffer[1] = '\0';
    return static_cast<DWORD>(list.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

DWORD CopyText(std::string_view text, LPSTR buffer, DWORD size) {
  const size_t count = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

}  // namespace

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  // Without a section the platform only flushes its cache: nothing changes.
  if (!section) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  MachineFile profile = ProfileFile(file);
  if (profile.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (kxhost::FailsByFault("WritePrivateProfileStringA", profile.windows)) return FALSE;

  DWORD error = ERROR_SUCCESS;
  std::string result;
  // The store's write lock keeps writers of other processes out between
  // reading the file and replacing it.
  auto& store = kxhost::Store::Get();
  store.Transaction([&] {
    std::vector<Line> lines;
    const bool existed = ReadLines(profile.host, &lines);
    SectionRange range = FindSection(lines, section);
    const bool has_section = range.heading < lines.size();
    if (!key) {
      // No key: the section goes, with all its keys.
      if (!has_section) return;
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range.heading),
                  lines.begin() + static_cast<std::ptrdiff_t>(range.end));
      result = "section deleted";
    } else if (!value) {
      // No value: the key goes.
      if (!has_section) return;
      size_t before = lines.size();
      for (size_t i = range.end; i-- > range.begin;)
        if (IsKey(lines[i], key)) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      if (lines.size() == before) return;
      result = "key deleted";
    } else {
      Line entry = Parse(std::string(key) + "=" + value);
      if (!has_section) {
        if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(Parse(""));
        lines.push_back(Parse(std::string("[") + section + "]"));
        lines.push_back(std::move(entry));
      } else {
        size_t found = range.end;
        for (size_t i = range.begin; i < range.end; ++i)
          if (IsKey(lines[i], key)) {
            found = i;
            break;
          }
        if (found < range.end) {
          // The key keeps the spelling it has in the file.
          lines[found] = Parse(lines[found].name + "=" + value);
        } else {
          // After the section's last line that is not blank.
          size_t at = range.end;
          while (at > range.begin && Trim(lines[at - 1].text).empty()) --at;
          lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
        }
      }
      result = existed ? "written" : "file created";
    }
    error = WriteLines(profile.host, lines);
  });
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  if (!result.empty())
    kxhost::Journal("WritePrivateProfileStringA", Describe(profile, section, key, value), result);
  return TRUE;
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value,
                                      LPSTR buffer, DWORD size, LPCSTR file) {
  if (!buffer || size == 0) return 0;
  // The default loses its trailing blanks, as the platform's does.
  std::string fallback(default_value ? default_value : "");
  while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t'))
    fallback.pop_back();

  MachineFile profile = ProfileFile(file);
  std::vector<Line> lines;
  if (profile.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
  } else if (!kxhost::FailsByFault("GetPrivateProfileStringA", profile.windows) &&
             !ReadLines(profile.host, &lines)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  }

  if (!section) {
    std::vector<std::string> names;
    for (const auto& line : lines)
      if (line.is_section) names.push_back(line.name);
    return CopyList(names, buffer, size);
  }
  SectionRange range = FindSection(lines, section);
  if (!key) {
    std::vector<std::string> names;
    for (size_t i = range.begin; i < range.end; ++i)
      if (!lines[i].name.empty()) names.push_back(lines[i].name);
    return CopyList(names, buffer, size);
  }
  for (size_t i = range.begin; i < range.end; ++i) {
    if (!IsKey(lines[i], key)) continue;
    std::string_view value = lines[i].value;
    // A value in matching quotes is given without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return CopyText(value, buffer, size);
  }
  return CopyText(fallback, buffer, size);
}
