// Files and directories as the setup program relies on them: opening and
// creating files, reading and writing bytes unchanged, the existence test
// that counts directories, a move that never replaces, temporary names,
// and names found regardless of letter case.
#include "conformance_files.h"

namespace {

using kxtest::ReadWholeFile;
using kxtest::WriteWholeFile;

constexpr DWORD kPoison = 0xDEADBEEF;

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

class FilesConformance : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return folder_.Path(name); }

  kxtest::ConformanceMachine machine_;
  kxtest::FileFolder folder_;
};

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(FilesConformance, OpensAndCreatesWithThePlatformsCodes) {
  ASSERT_TRUE(WriteWholeFile(Path("THERE.TXT"), "there"));
  struct Case {
    const char* what;
    std::string path;
    DWORD disposition;
    bool opened;
    DWORD error;  // the last error afterwards
  };
  const Case cases[] = {
      {"missing file", Path("MISSING.TXT"), OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND},
      {"missing directory", Path("NO\\FILE.TXT"), OPEN_EXISTING, false, ERROR_PATH_NOT_FOUND},
      {"new over an existing file", Path("THERE.TXT"), CREATE_NEW, false, ERROR_FILE_EXISTS},
      {"always over an existing file", Path("THERE.TXT"), CREATE_ALWAYS, true,
       ERROR_ALREADY_EXISTS},
      {"always, a new file", Path("NEW.TXT"), CREATE_ALWAYS, true, ERROR_SUCCESS},
      {"existing, in other letter case", Path("there.txt"), OPEN_EXISTING, true,
       kPoison},  // the code after a plain open is not settled
      {"a directory", folder_.folder(), OPEN_EXISTING, false, ERROR_ACCESS_DENIED},
  };
  for (const auto& row : cases) {
    SetLastError(kPoison);
    HANDLE file = Open(row.path, GENERIC_WRITE, row.disposition);
    const DWORD error = GetLastError();
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, row.opened) << row.what;
    if (row.error != kPoison) {
      EXPECT_EQ(error, row.error) << row.what;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  EXPECT_EQ(ReadWholeFile(Path("THERE.TXT")), "");  // emptied by CREATE_ALWAYS
}

TEST_F(FilesConformance, ReadsAndWritesBytesUnchanged) {
  const std::string bytes(
      "a\r\nb\nc\rd\x1A"
      "e\0f\r\n",
      15);
  ASSERT_TRUE(WriteWholeFile(Path("BYTES.BIN"), bytes));
  EXPECT_EQ(ReadWholeFile(Path("BYTES.BIN")), bytes);

  HANDLE file = Open(Path("BYTES.BIN"), GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char block[64];
  DWORD got = kPoison;
  ASSERT_TRUE(ReadFile(file, block, sizeof block, &got, nullptr));
  EXPECT_EQ(got, bytes.size());
  got = kPoison;
  EXPECT_TRUE(ReadFile(file, block, sizeof block, &got, nullptr));  // the end: no error
  EXPECT_EQ(got, 0u);
  DWORD written = kPoison;
  SetLastError(kPoison);
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseHandle(file));
  SetLastError(kPoison);
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FilesConformance, AttributesCountDirectories) {
  ASSERT_TRUE(WriteWholeFile(Path("OEM0.INF"), "x"));
  ASSERT_TRUE(CreateDirectoryA(Path("OEM1.INF").c_str(), nullptr));
  const DWORD file = GetFileAttributesA(Path("oem0.inf").c_str());
  ASSERT_NE(file, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(file & FILE_ATTRIBUTE_DIRECTORY, 0u);
  const DWORD directory = GetFileAttributesA(Path("OEM1.INF").c_str());
  ASSERT_NE(directory, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(directory & FILE_ATTRIBUTE_DIRECTORY, 0u);

  SetLastError(kPoison);
  EXPECT_EQ(GetFileAttributesA(Path("OEM2.INF").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(Path("NO\\OEM2.INF").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  SetLastError(kPoison);
  EXPECT_FALSE(CreateDirectoryA(Path("OEM1.INF").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA(Path("NO\\DIR").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FilesConformance, MoveNeverReplaces) {
  ASSERT_TRUE(WriteWholeFile(Path("COPY.TMP"), "copy"));
  ASSERT_TRUE(WriteWholeFile(Path("OEM0.INF"), "taken"));
  ASSERT_TRUE(CreateDirectoryA(Path("OEM1.INF").c_str(), nullptr));

  SetLastError(kPoison);
  EXPECT_FALSE(MoveFileA(Path("COPY.TMP").c_str(), Path("oem0.inf").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(MoveFileA(Path("COPY.TMP").c_str(), Path("OEM1.INF").c_str()));
  EXPECT_EQ(ReadWholeFile(Path("OEM0.INF")), "taken");
  EXPECT_EQ(ReadWholeFile(Path("COPY.TMP")), "copy");

  EXPECT_TRUE(MoveFileA(Path("COPY.TMP").c_str(), Path("OEM2.INF").c_str()));
  EXPECT_EQ(ReadWholeFile(Path("OEM2.INF")), "copy");
  EXPECT_EQ(GetFileAttributesA(Path("COPY.TMP").c_str()), INVALID_FILE_ATTRIBUTES);

  SetLastError(kPoison);
  EXPECT_FALSE(MoveFileA(Path("COPY.TMP").c_str(), Path("OEM3.INF").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesConformance, DeletesFiles) {
  ASSERT_TRUE(WriteWholeFile(Path("GONE.TMP"), "x"));
  EXPECT_TRUE(DeleteFileA(Path("gone.tmp").c_str()));
  EXPECT_EQ(GetFileAttributesA(Path("GONE.TMP").c_str()), INVALID_FILE_ATTRIBUTES);
  SetLastError(kPoison);
  EXPECT_FALSE(DeleteFileA(Path("GONE.TMP").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesConformance, TemporaryNamesAreCreatedInTheDirectory) {
  char name[MAX_PATH];
  const UINT number = GetTempFileNameA(folder_.folder().c_str(), "INF", 0, name);
  ASSERT_NE(number, 0u);
  // The letter case of the number and of ".TMP" differs between platforms.
  const std::string created = Upper(name);
  const std::string start = Upper(folder_.folder() + "\\INF");
  EXPECT_EQ(created.compare(0, start.size(), start), 0) << created;
  ASSERT_GE(created.size(), 4u);
  EXPECT_EQ(created.substr(created.size() - 4), ".TMP") << created;
  EXPECT_EQ(ReadWholeFile(name), "");  // created, empty

  EXPECT_EQ(GetTempFileNameA(folder_.folder().c_str(), "INF", 0x12AB, name), 0x12ABu);
  EXPECT_EQ(Upper(name), Upper(folder_.folder() + "\\INF12AB.TMP"));
  EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);  // not created
}

}  // namespace
