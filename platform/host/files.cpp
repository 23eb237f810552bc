// Files and directories on machine paths: CreateFileA and its handles,
// ReadFile, WriteFile, DeleteFileA, MoveFileA, GetFileAttributesA,
// CreateDirectoryA and GetTempFileNameA, with the platform's error codes.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "host.h"

namespace kxhost {

MachineFile ResolveMachineFile(LPCSTR path) {
  MachineFile file;
  if (!path || !*path) return file;
  file.windows = FullWindowsPath(path);
  if (file.windows.empty()) return file;
  // The system drive is always there; other drives exist when the machine
  // has their folder.
  if (file.windows[0] == 'C') {
    std::error_code ignored;
    std::filesystem::create_directories(MachineDir() / "drive_c", ignored);
  }
  file.host = HostPath(file.windows);
  return file;
}

DWORD FileErrorOf(int error_number, const std::filesystem::path& host) {
  switch (error_number) {
    case ENOENT: {
      // A missing file in an existing directory is "file not found"; a
      // missing directory on the way is "path not found".
      std::error_code error;
      return std::filesystem::is_directory(host.parent_path(), error) ? ERROR_FILE_NOT_FOUND
                                                                      : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EIO:
      return ERROR_WRITE_FAULT;
    default:  // EACCES, EPERM, EISDIR, EROFS, ...
      return ERROR_ACCESS_DENIED;
  }
}

bool FailsByFault(std::string_view op, std::string_view argument) {
  if (auto error = TakeFault(op, argument)) {
    SetLastError(*error);
    return true;
  }
  return false;
}

}  // namespace kxhost

namespace {

using kxhost::FailsByFault;
using kxhost::FileErrorOf;
using kxhost::MachineFile;
using kxhost::ResolveMachineFile;

// An open file. The bytes written through the handle are journaled once,
// when it closes, so that a copy shows as one entry rather than thousands.
class FileObject : public kxhost::KernelObject {
 public:
  FileObject(int fd, std::string windows_path, DWORD access)
      : fd_(fd), path_(std::move(windows_path)), access_(access) {}
  ~FileObject() override {
    const DWORD saved = GetLastError();
    try {
      if (written_ > 0) kxhost::Journal("WriteFile", path_, std::to_string(written_) + " bytes");
    } catch (const std::exception&) {
      // The file closes all the same; only its journal entry is lost.
    }
    close(fd_);
    SetLastError(saved);
  }
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  bool CanRead() const { return (access_ & (GENERIC_READ | GENERIC_ALL)) != 0; }
  bool CanWrite() const { return (access_ & (GENERIC_WRITE | GENERIC_ALL)) != 0; }
  void CountWritten(uint64_t bytes) { written_ += bytes; }

 private:
  int fd_;
  std::string path_;
  DWORD access_;
  uint64_t written_ = 0;
};

bool IsDirectory(const std::filesystem::path& host) {
  std::error_code error;
  return std::filesystem::is_directory(host, error);
}

bool Exists(const std::filesystem::path& host) {
  struct stat info {};
  return lstat(host.c_str(), &info) == 0;
}

// Creates `host` when it does not exist; false (errno set) when it does or
// cannot be made.
bool CreateNewFile(const std::filesystem::path& host) {
  int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE) {
  MachineFile file = ResolveMachineFile(path);
  if (file.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (FailsByFault("CreateFileA", file.windows)) return INVALID_HANDLE_VALUE;

  int flags = O_CLOEXEC;
  const bool read = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
  const bool write = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_TRUNC;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  // A directory is no file to open.
  if (IsDirectory(file.host)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const bool existed = Exists(file.host);
  int fd = open(file.host.c_str(), flags, 0644);
  if (fd < 0) {
    const int error_number = errno;
    SetLastError(error_number == EEXIST ? ERROR_FILE_EXISTS : FileErrorOf(error_number, file.host));
    return INVALID_HANDLE_VALUE;
  }
  if (!existed)
    kxhost::Journal("CreateFileA", file.windows, "created");
  else if (flags & O_TRUNC)
    kxhost::Journal("CreateFileA", file.windows, "emptied");
  HANDLE handle = kxhost::AddHandle(std::make_unique<FileObject>(fd, file.windows, access));
  // The "always" dispositions tell whether the file was there before.
  const bool always = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(always && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

namespace {

// The checks that ReadFile (`op` "ReadFile") and WriteFile share, in the
// platform's order: the file to transfer with, or null with the last error
// set. The count of bytes moved starts at 0.
FileObject* FileForTransfer(std::string_view op, HANDLE handle, const void* buffer, DWORD size,
                            LPDWORD count) {
  if (count) *count = 0;
  auto* file = kxhost::FindHandleAs<FileObject>(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!count || (!buffer && size > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (FailsByFault(op, file->path())) return nullptr;
  if (op == "ReadFile" ? !file->CanRead() : !file->CanWrite()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return file;
}

}  // namespace

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, LPVOID) {
  FileObject* file = FileForTransfer("ReadFile", handle, buffer, size, read);
  if (!file) return FALSE;
  DWORD total = 0;
  while (total < size) {
    ssize_t got = ::read(file->fd(), static_cast<char*>(buffer) + total, size - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *read = total;
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    if (got == 0) break;
    total += static_cast<DWORD>(got);
  }
  *read = total;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD written, LPVOID) {
  FileObject* file = FileForTransfer("WriteFile", handle, buffer, size, written);
  if (!file) return FALSE;
  DWORD total = 0;
  while (total < size) {
    ssize_t put = ::write(file->fd(), static_cast<const char*>(buffer) + total, size - total);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      const int error_number = errno;
      *written = total;
      file->CountWritten(total);
      SetLastError(error_number == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
      return FALSE;
    }
    total += static_cast<DWORD>(put);
  }
  *written = total;
  file->CountWritten(total);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  MachineFile file = ResolveMachineFile(path);
  if (file.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (FailsByFault("DeleteFileA", file.windows)) return FALSE;
  if (IsDirectory(file.host)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(file.host.c_str()) != 0) {
    SetLastError(FileErrorOf(errno, file.host));
    return FALSE;
  }
  kxhost::Journal("DeleteFileA", file.windows, "deleted");
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR existing, LPCSTR new_name) {
  MachineFile from = ResolveMachineFile(existing);
  MachineFile to = ResolveMachineFile(new_name);
  if (from.host.empty() || to.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (FailsByFault("MoveFileA", to.windows)) return FALSE;
  if (!Exists(from.host)) {
    SetLastError(FileErrorOf(ENOENT, from.host));
    return FALSE;
  }
  // MoveFileA never replaces: the check and the move are one step, so a
  // file that appears meanwhile under the new name stays as it is.
  if (renameat2(AT_FDCWD, from.host.c_str(), AT_FDCWD, to.host.c_str(), RENAME_NOREPLACE) != 0) {
    int error_number = errno;
    if ((error_number == EINVAL || error_number == ENOSYS) && !IsDirectory(from.host)) {
      // A file system without the no-replace rename: a hard link refuses
      // an existing name as well.
      if (link(from.host.c_str(), to.host.c_str()) == 0) {
        unlink(from.host.c_str());
        error_number = 0;
      } else {
        error_number = errno;
      }
    }
    if (error_number != 0) {
      SetLastError(error_number == EEXIST ? ERROR_ALREADY_EXISTS
                                          : FileErrorOf(error_number, to.host));
      return FALSE;
    }
  }
  kxhost::Journal("MoveFileA", from.windows + " -> " + to.windows, "moved");
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  MachineFile file = ResolveMachineFile(path);
  if (file.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (FailsByFault("GetFileAttributesA", file.windows)) return INVALID_FILE_ATTRIBUTES;
  struct stat info {};
  if (stat(file.host.c_str(), &info) != 0) {
    SetLastError(FileErrorOf(errno, file.host));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(info.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  MachineFile file = ResolveMachineFile(path);
  if (file.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (FailsByFault("CreateDirectoryA", file.windows)) return FALSE;
  if (mkdir(file.host.c_str(), 0755) != 0) {
    const int error_number = errno;
    SetLastError(error_number == ENOENT ? ERROR_PATH_NOT_FOUND
                                        : FileErrorOf(error_number, file.host));
    return FALSE;
  }
  kxhost::Journal("CreateDirectoryA", file.windows, "created");
  return TRUE;
}

// The platform's temporary names: the directory, up to three characters of
// the prefix, the number in hexadecimal and ".TMP". With number 0 a free
// number is found and the file created; otherwise nothing is created.
UINT WINAPI GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR temp_file) {
  if (!directory || !temp_file) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  MachineFile folder = ResolveMachineFile(directory);
  if (folder.host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (FailsByFault("GetTempFileNameA", folder.windows)) return 0;
  if (!IsDirectory(folder.host)) {
    SetLastError(ERROR_DIRECTORY);
    return 0;
  }
  std::string base = directory;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  if (prefix) base.append(prefix, strnlen(prefix, 3));
  auto name_for = [&](UINT number) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", number & 0xFFFFu);
    return base + digits + ".TMP";
  };
  if (unique != 0) {
    std::string name = name_for(unique);
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    std::memcpy(temp_file, name.c_str(), name.size() + 1);
    return unique & 0xFFFFu;
  }
  const UINT start = (GetTickCount() ^ static_cast<UINT>(getpid())) & 0xFFFFu;
  for (UINT step = 0; step < 0x10000u; ++step) {
    UINT number = (start + step) & 0xFFFFu;
    if (number == 0) continue;
    std::string name = name_for(number);
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    MachineFile candidate = ResolveMachineFile(name.c_str());
    if (CreateNewFile(candidate.host)) {
      kxhost::Journal("GetTempFileNameA", candidate.windows, "created");
      std::memcpy(temp_file, name.c_str(), name.size() + 1);
      return number;
    }
    if (errno != EEXIST) {
      SetLastError(FileErrorOf(errno, candidate.host));
      return 0;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}
