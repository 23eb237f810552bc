// The status monitor's captions in the registry.
#include <gtest/gtest.h>

#include "setup_machine.h"

namespace {

constexpr const char* kKey = "SOFTWARE\\Tovarra\\Quindle Status Monitor Window";

struct Value {
  DWORD type = 0;
  std::string data;
};

Value Read(const char* name) {
  Value value;
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(value.data.data()),
                     &size);
  }
  RegCloseKey(key);
  return value;
}

struct CaptionCase {
  const char* name;
  std::string bytes;  // EUC-KR, with the terminating zero
};

// The exact bytes, as iconv gives them for the texts in the comments.
const CaptionCase kCaptions[] = {
    // "도움말(&H)"
    {"BtnHelp", std::string("\xB5\xB5\xBF\xF2\xB8\xBB(&H)", 11)},
    // "상태 검사 에러"
    {"FrmIdError", std::string("\xBB\xF3\xC5\xC2 \xB0\xCB\xBB\xE7 \xBF\xA1\xB7\xAF", 15)},
    // "상태 검사 에러 입니다."
    {"LabelMsg",
     std::string("\xBB\xF3\xC5\xC2 \xB0\xCB\xBB\xE7 \xBF\xA1\xB7\xAF \xC0\xD4\xB4\xCF\xB4\xD9.",
                 23)},
    // "토바라 퀸들 모니터"
    {"Caption",
     std::string("\xC5\xE4\xB9\xD9\xB6\xF3 \xC4\xFD\xB5\xE9 \xB8\xF0\xB4\xCF\xC5\xCD", 19)},
};

class StatusMonitor : public setuptest::SetupMachine {};

TEST_F(StatusMonitor, WritesTheFourCaptionsAndKeepsOtherValues) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
  const BYTE other[] = "kept";
  RegSetValueExA(key, "Other", 0, REG_SZ, other, sizeof other);
  RegSetValueExA(key, "Caption", 0, REG_BINARY, other, 2);
  RegCloseKey(key);

  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(WriteStatusMonitorStrings(), 1);
    for (const auto& caption : kCaptions) {
      Value value = Read(caption.name);
      EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << caption.name;
      EXPECT_EQ(value.data, caption.bytes) << caption.name << ", run " << run;
    }
    EXPECT_EQ(Read("Other").data, std::string("kept", 5));
  }
}

TEST_F(StatusMonitor, AKeyThatCannotBeOpenedMeansNothingWrittenOrLogged) {
  kxhost::ArmFault("RegCreateKeyA", ERROR_ACCESS_DENIED, "*Quindle*");
  EXPECT_EQ(WriteStatusMonitorStrings(), 1);
  kxhost::ClearFaults();
  for (const auto& caption : kCaptions) EXPECT_EQ(Read(caption.name).data, "") << caption.name;
  EXPECT_FALSE(std::filesystem::exists(FailureLogFile()));
}

TEST_F(StatusMonitor, AFailedWriteDoesNotStopTheOthers) {
  kxhost::ArmFault("RegSetValueExA", ERROR_ACCESS_DENIED, "*:FrmIdError");
  WriteStatusMonitorStrings();
  kxhost::ClearFaults();
  EXPECT_EQ(Read("FrmIdError").data, "");
  EXPECT_EQ(Read("Caption").data, kCaptions[3].bytes);
  EXPECT_FALSE(std::filesystem::exists(FailureLogFile()));
}

}  // namespace
