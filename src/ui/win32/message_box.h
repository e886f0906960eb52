#pragma once

#include <windows.h>

#include "app/texts.h"

namespace qvx::win32 {

// The box's style: OK, the stop icon when the message has one, system- or application-modal.
UINT BoxStyle(const Message& message);

// The message as the platform's modal box with an OK button; returns once the operator pressed
// it. An application-modal box disables its owner, when there is one.
void ShowMessageBox(HWND owner, const Message& message);

}  // namespace qvx::win32
