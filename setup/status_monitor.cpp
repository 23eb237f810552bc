// The captions of the printer's status monitor window, in the registry as
// EUC-KR (code page 949) text whatever the system's code page.
#include "scoped_handles.h"
#include "setup.h"

namespace {

constexpr const char* kStatusMonitorKey = "SOFTWARE\\Tovarra\\Quindle Status Monitor Window";

struct Caption {
  const char* name;
  const char* text;
};

constexpr Caption kCaptions[] = {
    // "도움말(&H)": Help, with H as the accelerator (button caption).
    {"BtnHelp", "\xB5\xB5\xBF\xF2\xB8\xBB(&H)"},
    // "상태 검사 에러": status check error (caption of the error form).
    {"FrmIdError", "\xBB\xF3\xC5\xC2 \xB0\xCB\xBB\xE7 \xBF\xA1\xB7\xAF"},
    // "상태 검사 에러 입니다.": this is a status check error (label text).
    {"LabelMsg", "\xBB\xF3\xC5\xC2 \xB0\xCB\xBB\xE7 \xBF\xA1\xB7\xAF \xC0\xD4\xB4\xCF\xB4\xD9."},
    // "토바라 퀸들 모니터": the status monitor's product name (window caption).
    {"Caption", "\xC5\xE4\xB9\xD9\xB6\xF3 \xC4\xFD\xB5\xE9 \xB8\xF0\xB4\xCF\xC5\xCD"},
};

}  // namespace

int WriteStatusMonitorStrings() {
  HKEY opened = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kStatusMonitorKey, &opened) != ERROR_SUCCESS) return 1;
  RegistryKey key(opened);
  // Each write stands alone: one that fails does not stop the others.
  for (const Caption& caption : kCaptions)
    RegSetValueExA(key.get(), caption.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(caption.text),
                   static_cast<DWORD>(lstrlenA(caption.text) + 1));
  return 1;
}
