// The installation's INF file, copied as text into the Windows INF
// directory under the first free name OEM0.INF ... OEM998.INF.
//
// The copy is written under a temporary name in the INF directory and then
// moved to its OEMn.INF name by a move that never replaces: no existing
// OEMn.INF is ever overwritten, and none is left half-written.
#include "scoped_handles.h"
#include "setup.h"
#include "text_copy.h"

namespace {

constexpr int kLastOemNumber = 998;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The candidate path for `number`; false when it would not fit.
bool OemPath(int number, char (&path)[MAX_PATH]) {
  // "\OEM998.INF" and the zero need 12 bytes after the directory.
  if (lstrlenA(InfDirectory) + 12 > MAX_PATH) return false;
  wsprintfA(path, "%s\\OEM%d.INF", InfDirectory, number);
  return true;
}

bool IsTaken(const char* path) {
  // A file or a directory of that name takes it.
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The first number whose name is free; -1 when all are taken.
int FirstFreeOemNumber() {
  char path[MAX_PATH];
  for (int number = 0; number <= kLastOemNumber; ++number)
    if (OemPath(number, path) && !IsTaken(path)) return number;
  return -1;
}

// A file created under a temporary name in a directory; removed again
// unless it was moved away.
class TemporaryFile {
 public:
  explicit TemporaryFile(LPCSTR directory) {
    if (GetTempFileNameA(directory, "INF", 0, path_) == 0) path_[0] = '\0';
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_[0]) return;
    const DWORD saved = GetLastError();
    DeleteFileA(path_);
    SetLastError(saved);
  }

  bool created() const { return path_[0] != '\0'; }
  LPCSTR path() const { return path_; }
  // Moves the file to `destination` when no entry of that name exists.
  bool MoveTo(LPCSTR destination) {
    if (!MoveFileA(path_, destination)) return false;
    path_[0] = '\0';
    return true;
  }

 private:
  char path_[MAX_PATH];
};

bool WriteTranslatedCopy(HANDLE source, LPCSTR destination) {
  FileHandle output(CreateFileA(destination, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output.valid()) return false;
  if (!CopyAsText(source, output.get())) return false;
  return output.Close();
}

}  // namespace

int InstallInfFile(LPCSTR file_name) {
  // Without the program's own directory there is no source to copy.
  if (!ModuleDirectory[0] || !InfDirectory[0]) return 0;
  if (lstrlenA(ModuleDirectory) + lstrlenA(file_name) >= MAX_PATH) return 0;
  char source[MAX_PATH];
  lstrcpyA(source, ModuleDirectory);
  lstrcatA(source, file_name);

  const int first_free = FirstFreeOemNumber();
  if (first_free < 0) return 0;

  FileHandle input(CreateFileA(source, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!input.valid()) return 0;
  TemporaryFile copy(InfDirectory);
  if (!copy.created() || !WriteTranslatedCopy(input.get(), copy.path())) return 0;

  // A name taken since it was found free is left alone: the next one is
  // tried.
  char destination[MAX_PATH];
  for (int number = first_free; number <= kLastOemNumber; ++number) {
    if (!OemPath(number, destination)) return 0;
    if (copy.MoveTo(destination)) return 1;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return 0;
  }
  return 0;
}
