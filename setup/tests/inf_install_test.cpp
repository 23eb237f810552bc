#include <gtest/gtest.h>

#include "setup_machine.h"

namespace {

using setuptest::ReadBytes;
using setuptest::WriteBytes;

class InfInstall : public setuptest::SetupMachine {
 protected:
  void SetUp() override {
    SetupMachine::SetUp();
    UseSourceDirectory();
  }
  std::filesystem::path Source() const { return kxhost::HostPath("A:\\WIN95.INF"); }
  std::filesystem::path Oem(int number) const {
    return kxhost::HostPath("C:\\WINDOWS\\INF\\OEM" + std::to_string(number) + ".INF");
  }
};

struct TextCase {
  const char* name;
  std::string source;
  std::string copy;
};

TEST_F(InfInstall, CopiesTheSourceAsText) {
  const std::string long_line(1000, 'x');
  // CR LF pairs and lone CRs on both sides of the reader's 64 KiB blocks.
  const std::string to_block_end(64 * 1024 - 1, 'y');
  const TextCase cases[] = {
      {"empty source", "", ""},
      {"LF line ends", "[Version]\nSignature=$CHICAGO$\n", "[Version]\r\nSignature=$CHICAGO$\r\n"},
      {"CR LF line ends", "[Version]\r\nClass=Printer\r\n", "[Version]\r\nClass=Printer\r\n"},
      {"mixed line ends", "a\nb\r\nc\n", "a\r\nb\r\nc\r\n"},
      {"last line without end", "a\nlast", "a\r\nlast"},
      {"lone CR stays", "a\rb\r", "a\rb\r"},
      {"CR CR LF", "a\r\r\nb", "a\r\r\nb"},
      {"0x1A ends the input",
       "a\nb\x1A"
       "c\nd\n",
       "a\r\nb"},
      {"CR before 0x1A", "a\r\x1A\n", "a\r"},
      {"zero bytes copied", std::string("a\0b\n\0", 5), std::string("a\0b\r\n\0", 6)},
      {"line longer than a chunk", long_line + "\n" + long_line, long_line + "\r\n" + long_line},
      {"CR LF split between reads", to_block_end + "\r\nz", to_block_end + "\r\nz"},
      {"lone CR at a block's end", to_block_end + "\rz", to_block_end + "\rz"},
      {"LF at a block's start", to_block_end + "z\nz", to_block_end + "z\r\nz"},
  };
  for (const auto& row : cases) {
    std::filesystem::remove(Oem(0));
    WriteBytes(Source(), row.source);
    EXPECT_EQ(InstallInfFile("WIN95.INF"), 1) << row.name;
    EXPECT_EQ(ReadBytes(Oem(0)), row.copy) << row.name;
  }
}

struct NameCase {
  const char* name;
  std::vector<std::string> taken;  // files, or directories when ending in '\'
  const char* chosen;
};

TEST_F(InfInstall, TakesTheFirstFreeName) {
  const NameCase cases[] = {
      {"none taken", {}, "OEM0.INF"},
      {"0 to 4 taken", {"OEM0.INF", "OEM1.INF", "OEM2.INF", "OEM3.INF", "OEM4.INF"}, "OEM5.INF"},
      {"a gap is filled", {"OEM0.INF", "OEM2.INF"}, "OEM1.INF"},
      {"a directory takes a name", {"OEM0.INF\\"}, "OEM1.INF"},
      {"names in other letter case", {"oem0.inf", "Oem1.Inf"}, "OEM2.INF"},
      {"other names do not count", {"OEM.INF", "OEM00.INF", "OEM1.TXT"}, "OEM0.INF"},
  };
  WriteBytes(Source(), "[Version]\n");
  for (const auto& row : cases) {
    const auto inf = kxhost::HostPath("C:\\WINDOWS\\INF");
    std::filesystem::remove_all(inf);
    std::filesystem::create_directories(inf);
    for (const auto& taken : row.taken) {
      if (taken.back() == '\\')
        std::filesystem::create_directories(inf / taken.substr(0, taken.size() - 1));
      else
        WriteBytes(inf / taken, "taken");
    }
    EXPECT_EQ(InstallInfFile("WIN95.INF"), 1) << row.name;
    EXPECT_EQ(ReadBytes(inf / row.chosen), "[Version]\r\n") << row.name;
    EXPECT_EQ(InfDirectoryNames().size(), row.taken.size() + 1) << row.name;
    for (const auto& taken : row.taken) {
      if (taken.back() == '\\') continue;
      EXPECT_EQ(ReadBytes(inf / taken), "taken") << row.name;
    }
  }
}

TEST_F(InfInstall, AllNamesTakenWritesNothing) {
  WriteBytes(Source(), "[Version]\n");
  for (int number = 0; number <= 998; ++number) WriteBytes(Oem(number), "taken");
  const auto before = InfDirectoryNames();
  const int64_t journal_end = kxhost::ReadJournal().empty() ? 0 : kxhost::ReadJournal().back().seq;

  EXPECT_EQ(InstallInfFile("WIN95.INF"), 0);
  EXPECT_EQ(InfDirectoryNames(), before);
  EXPECT_EQ(ReadBytes(Oem(998)), "taken");
  EXPECT_TRUE(kxhost::ReadJournal(journal_end).empty()) << "nothing opened, created or changed";
}

TEST_F(InfInstall, NameTakenBeforeTheMoveIsNotReplaced) {
  WriteBytes(Source(), "[Version]\n");
  // OEM0.INF looks free when the names are looked at, and is there when
  // the copy is moved.
  WriteBytes(Oem(0), "appeared meanwhile");
  kxhost::ArmFault("GetFileAttributesA", ERROR_FILE_NOT_FOUND, "*\\OEM0.INF", 1);

  EXPECT_EQ(InstallInfFile("WIN95.INF"), 1);
  EXPECT_EQ(ReadBytes(Oem(0)), "appeared meanwhile");
  EXPECT_EQ(ReadBytes(Oem(1)), "[Version]\r\n");
  EXPECT_EQ(InfDirectoryNames(), (std::vector<std::string>{"OEM0.INF", "OEM1.INF"}));
}

TEST_F(InfInstall, FailuresLeaveNoFileBehind) {
  struct FailureCase {
    const char* name;
    const char* op;
    const char* match;
  };
  const FailureCase cases[] = {
      {"source missing", nullptr, nullptr},
      {"source cannot be opened", "CreateFileA", "A:\\WIN95.INF"},
      {"temporary name refused", "GetTempFileNameA", "*"},
      {"destination cannot be opened", "CreateFileA", "C:\\WINDOWS\\INF\\*"},
      {"read error", "ReadFile", "*"},
      {"write error", "WriteFile", "*"},
      {"move refused", "MoveFileA", "*"},
  };
  // Larger than one block, so that reads and writes happen more than once.
  const std::string text(200 * 1024, 'x');
  for (const auto& row : cases) {
    kxhost::ClearFaults();
    std::filesystem::remove(Source());
    if (row.op) {
      WriteBytes(Source(), text);
      kxhost::ArmFault(row.op, ERROR_ACCESS_DENIED, row.match);
    }
    EXPECT_EQ(InstallInfFile("WIN95.INF"), 0) << row.name;
    EXPECT_TRUE(InfDirectoryNames().empty()) << row.name;
  }
}

TEST_F(InfInstall, WithoutTheProgramsDirectoryNothingIsCopied) {
  WriteBytes(kxhost::HostPath("C:\\WIN95.INF"), "[Version]\n");
  ModuleDirectory[0] = '\0';
  EXPECT_EQ(InstallInfFile("WIN95.INF"), 0);
  EXPECT_TRUE(InfDirectoryNames().empty());
}

}  // namespace
