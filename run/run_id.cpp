#include "run/run_id.h"

#include "common/hex.h"

namespace vexo {

bool IsRunId(std::wstring_view text) noexcept {
  return IsLowerHexOfLength(text, kRunIdLength);
}

std::wstring BrokerServiceName(std::wstring_view run_id) {
  std::wstring name = kBrokerServicePrefix;
  name += run_id;
  return name;
}

}  // namespace vexo
