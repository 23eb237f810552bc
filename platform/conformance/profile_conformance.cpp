// Profile (INI) files as the setup program's failure log relies on them:
// the file and the section created when missing, a key's value replaced,
// everything else kept, CR LF line ends, names matched regardless of case.
#include "conformance_files.h"

namespace {

using kxtest::ReadWholeFile;
using kxtest::WriteWholeFile;

class ProfileConformance : public ::testing::Test {
 protected:
  std::string Get(const char* section, const char* key, const char* fallback = "<none>") {
    char value[256];
    GetPrivateProfileStringA(section, key, fallback, value, sizeof value, file_.c_str());
    return value;
  }

  kxtest::ConformanceMachine machine_;
  kxtest::FileFolder folder_;
  // Not WIN.INI: some platforms map parts of a file of that name to the
  // registry. The failure log's own section is not among them.
  std::string file_ = folder_.Path("KXTEST.INI");
};

TEST_F(ProfileConformance, CreatesTheFileAndTheSection) {
  const std::string log = folder_.Path("WIN.INI");
  ASSERT_EQ(ReadWholeFile(log), "<missing>");
  EXPECT_TRUE(WritePrivateProfileStringA("ZEBLIN", "AddMonitor", "Error code : 5", log.c_str()));
  EXPECT_EQ(ReadWholeFile(log), "[ZEBLIN]\r\nAddMonitor=Error code : 5\r\n");
}

TEST_F(ProfileConformance, ReplacesAKeyAndKeepsEverythingElse) {
  ASSERT_TRUE(
      WriteWholeFile(file_,
                     "[Options]\r\nload=\r\nrun=\r\n[ZEBLIN]\r\nAddMonitor=Error code : 5\r\n"
                     "AddPrinter=Error code : 0\r\n[Ports]\r\nLPT1:=\r\n"));
  EXPECT_TRUE(WritePrivateProfileStringA("zeblin", "ADDMONITOR", "Error code : -1", file_.c_str()));
  EXPECT_EQ(ReadWholeFile(file_),
            "[Options]\r\nload=\r\nrun=\r\n[ZEBLIN]\r\nAddMonitor=Error code : -1\r\n"
            "AddPrinter=Error code : 0\r\n[Ports]\r\nLPT1:=\r\n");
  EXPECT_EQ(Get("Zeblin", "addmonitor"), "Error code : -1");
}

TEST_F(ProfileConformance, AddsKeysAndSectionsWithCrLfLineEnds) {
  ASSERT_TRUE(
      WriteWholeFile(file_, "[Options]\r\nload=KX\r\n[ZEBLIN]\r\nAddMonitor=Error code : 5\r\n"));
  EXPECT_TRUE(WritePrivateProfileStringA("ZEBLIN", "GetPrinter", "Error code : 6", file_.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("Other", "Key", "Value", file_.c_str()));
  const std::string text = ReadWholeFile(file_);
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    EXPECT_TRUE(at > 0 && text[at - 1] == '\r') << "bare LF at " << at << " in\n" << text;
  EXPECT_EQ(Get("options", "load"), "KX");
  EXPECT_EQ(Get("ZEBLIN", "AddMonitor"), "Error code : 5");
  EXPECT_EQ(Get("ZEBLIN", "GetPrinter"), "Error code : 6");
  EXPECT_EQ(Get("Other", "Key"), "Value");

  char keys[256];
  const DWORD length =
      GetPrivateProfileStringA("ZEBLIN", nullptr, "", keys, sizeof keys, file_.c_str());
  EXPECT_EQ(std::string(keys, length), std::string("AddMonitor\0GetPrinter\0", 22));
}

TEST_F(ProfileConformance, DeletesAKeyWithoutAValue) {
  ASSERT_TRUE(WriteWholeFile(file_, "[ZEBLIN]\r\nAddMonitor=Error code : 5\r\nAddPrinter=x\r\n"));
  EXPECT_TRUE(WritePrivateProfileStringA("ZEBLIN", "AddMonitor", nullptr, file_.c_str()));
  EXPECT_EQ(Get("ZEBLIN", "AddMonitor"), "<none>");
  EXPECT_EQ(Get("ZEBLIN", "AddPrinter"), "x");
}

TEST_F(ProfileConformance, ReadsTheDefaultForWhatIsNotThere) {
  EXPECT_EQ(Get("ZEBLIN", "AddMonitor", "fallback"), "fallback");
  ASSERT_TRUE(WriteWholeFile(file_, "[ZEBLIN]\r\nAddMonitor=Error code : 5\r\n"));
  EXPECT_EQ(Get("ZEBLIN", "GetPrinter", "fallback"), "fallback");
  EXPECT_EQ(Get("Other", "AddMonitor", "fallback"), "fallback");
  char value[8];
  EXPECT_EQ(
      GetPrivateProfileStringA("ZEBLIN", "AddMonitor", "", value, sizeof value, file_.c_str()), 7u);
  EXPECT_STREQ(value, "Error c");
}

}  // namespace
