#include "win32/message_pump.h"

#include "win32/frm_main.h"

namespace tallowin::win32 {

void DispatchPumped(MSG& msg) {
  if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST)
    if (FrmMain* form = FrmMain::Around(msg.hwnd); form && form->translatePumpedKey(msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

}  // namespace tallowin::win32
