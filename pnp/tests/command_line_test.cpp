// Splitting the phases' command line, and the setup program's path formed
// from its source directory.
#include "command_line.h"

#include <string>

#include "host.h"
#include "pnp_fixture.h"
#include "setup_launch.h"

namespace {

using pnptest::Printable;

class CommandLineTest : public pnptest::PnpTest {};

struct SplitCase {
  const char* name;
  const char* code_page;
  std::string command_line;
  std::string key_path;
  std::string directory;
};

TEST_F(CommandLineTest, SplitsAtTheFirstSpaceCharacter) {
  const std::string long_directory = "A:\\" + std::string(64 * 1024, 'x');
  const std::string long_key = std::string(64 * 1024, 'k');
  const std::string spaces(64, ' ');
  const SplitCase cases[] = {
      {"key and directory", "1252", "Enum\\LPTENUM\\KALDRENKX512E10 A:\\",
       "Enum\\LPTENUM\\KALDRENKX512E10", "A:\\"},
      {"directory keeps its spaces", "1252", "Key C:\\Program Files\\KX  Disk\\", "Key",
       "C:\\Program Files\\KX  Disk\\"},
      {"second space belongs to the directory", "1252", "Key  A:\\", "Key", " A:\\"},
      {"space as last character", "1252", "Key ", "Key", ""},
      {"no space", "1252", "Enum\\LPTENUM\\KALDRENKX512E10", "Enum\\LPTENUM\\KALDRENKX512E10", ""},
      {"leading space: not split", "1252", " Key A:\\", " Key A:\\", ""},
      {"spaces only", "1252", spaces, spaces, ""},
      {"empty", "1252", "", "", ""},
      {"quotes kept", "1252", "\"Key\" \"A:\\KX\"", "\"Key\"", "\"A:\\KX\""},
      {"64 KiB directory", "1252", "Key " + long_directory, "Key", long_directory},
      {"64 KiB without space", "1252", long_key, long_key, ""},
      // Shift-JIS: 0x95 0x5C is one character whose second byte is a backslash.
      {"double-byte characters, 932", "932", "Enum\\\x95\x5C A:\\\x95\x5C", "Enum\\\x95\x5C",
       "A:\\\x95\x5C"},
      {"double-byte characters, 936", "936", "\x81\x5C\x81\x40 C:\\\xD5\xE2 \xC0\x5C",
       "\x81\x5C\x81\x40", "C:\\\xD5\xE2 \xC0\x5C"},
      {"lead byte at the end", "932", "Key\x95", "Key\x95", ""},
  };
  for (const auto& row : cases) {
    kxhost::Store::Get().SetSetting("codepage", row.code_page);
    PhaseCommandLine parts = SplitCommandLine(row.command_line.c_str());
    EXPECT_EQ(parts.device_key_path, row.key_path) << row.name;
    EXPECT_EQ(parts.source_directory, row.directory) << row.name;
  }
}

TEST_F(CommandLineTest, NullCommandLineGivesEmptyParts) {
  PhaseCommandLine parts = SplitCommandLine(nullptr);
  EXPECT_EQ(parts.device_key_path, "");
  EXPECT_EQ(parts.source_directory, "");
}

TEST(SetupProgramPath, AppendsTheNameAfterTheLastByte) {
  const struct {
    std::string directory;
    std::string path;
  } cases[] = {
      {"A:\\", "A:\\SETUP.EXE"},
      {"A:\\KX", "A:\\KX\\Setup.Exe"},
      {"C:\\Program Files\\KX\\", "C:\\Program Files\\KX\\SETUP.EXE"},
      {"", "\\Setup.Exe"},
      // A double-byte last character whose second byte is 0x5C counts as a
      // backslash (932 and 936 alike): the test is on the last byte.
      {"A:\\\x95\x5C", "A:\\\x95\x5CSETUP.EXE"},
      {"A:\\\x81\x5C", "A:\\\x81\x5CSETUP.EXE"},
  };
  for (const auto& row : cases)
    EXPECT_EQ(SetupProgramPath(row.directory), row.path) << Printable(row.directory);
}

}  // namespace
