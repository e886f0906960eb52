#include "ui/win32/message_box.h"

#include "ui/win32/wide_text.h"

namespace qvx::win32 {

void ShowMessageBox(HWND owner, const Message& message) {
  UINT style = MB_OK | (message.systemModal ? MB_SYSTEMMODAL : MB_APPLMODAL);
  if (message.stopIcon) style |= MB_ICONSTOP;
  MessageBoxW(owner, Wide(message.text).c_str(), Wide(message.title).c_str(), style);
}

}  // namespace qvx::win32
