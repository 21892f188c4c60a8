// The deployment's check that the run's broker service does not exist before the Host starts.
#pragma once

#include <string>

namespace vexo {

// Passes only when the service control manager answers that no service of the run's broker
// name exists. An existing service, or any other answer, is Failure 183.
void CheckBrokerServiceAbsent(const std::wstring& run_id);

}  // namespace vexo
