#pragma once

namespace qvx::usbemu {

// The emulated bus is visible only through umockdev's preload library, so a test binary
// starts itself again with it before doing anything else. Returns only when that is not
// possible (umockdev not installed) or already done; UsbTestbed::Unavailable then says which.
void EnterPreload(char** argv);

}  // namespace qvx::usbemu
