#pragma once

#include <cstdint>
#include <vector>

#include "link/d2xx.h"

namespace qvx::test {

// The call of that kind (1 to 7: every call but the open, in the seam's order) with the link's
// own arguments; its status.
inline FT_STATUS CallOfKind(D2xx& d, FT_HANDLE h, int kind) {
  DWORD n = 0;
  std::uint8_t byte = 0;
  switch (kind) {
    case 1:
      return d.FT_SetTimeouts(h, 100, 0);
    case 2:
      return d.FT_SetLatencyTimer(h, 2);
    case 3:
      return d.FT_SetUSBParameters(h, 65536, 65536);
    case 4:
      return d.FT_Purge(h, 3);
    case 5:
      return d.FT_Write(h, &byte, 1, &n);
    case 6:
      return d.FT_Read(h, &byte, 1, &n);
    default:
      return d.FT_Close(h);
  }
}

inline std::vector<FT_STATUS> EveryCallButOpen(D2xx& d, FT_HANDLE h) {
  std::vector<FT_STATUS> statuses;
  for (int kind = 1; kind <= 7; ++kind) statuses.push_back(CallOfKind(d, h, kind));
  return statuses;
}

}  // namespace qvx::test
