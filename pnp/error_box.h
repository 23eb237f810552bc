// The error box in which a phase reports what went wrong.
#pragma once

#include "platform.h"

// Shows strings `text_id` and `caption_id` of the library's table in a
// modal box with the error icon and an OK button, owned by `owner`. A
// missing string is shown as empty text.
void ShowInstallError(HWND owner, UINT text_id, UINT caption_id);
