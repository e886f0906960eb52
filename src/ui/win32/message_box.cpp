#include "ui/win32/message_box.h"

#include "ui/win32/wide_text.h"

namespace qvx::win32 {

UINT BoxStyle(const Message& message) {
  return MB_OK | (message.systemModal ? MB_SYSTEMMODAL : MB_APPLMODAL) |
         (message.stopIcon ? MB_ICONSTOP : 0U);
}

void ShowMessageBox(HWND owner, const Message& message) {
  MessageBoxW(owner, Wide(message.text).c_str(), Wide(message.title).c_str(), BoxStyle(message));
}

}  // namespace qvx::win32
