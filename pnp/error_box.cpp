#include "error_box.h"

#include <string>

#include "library_strings.h"

void ShowInstallError(HWND owner, UINT text_id, UINT caption_id) {
  std::string text = LoadLibraryString(text_id);
  std::string caption = LoadLibraryString(caption_id);
  MessageBoxA(owner, text.c_str(), caption.c_str(), MB_ICONERROR);
}
