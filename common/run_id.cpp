#include "common/run_id.h"

namespace vexo {

bool IsRunId(std::wstring_view text) noexcept {
  if (text.size() != kRunIdLength) {
    return false;
  }
  for (wchar_t c : text) {
    const bool lower_hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
    if (!lower_hex) {
      return false;
    }
  }
  return true;
}

}  // namespace vexo
