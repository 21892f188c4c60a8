#include "deploy/broker_check.h"

#include "common/error_codes.h"
#include "common/failure.h"
#include "deploy/messages.h"
#include "run/run_id.h"
#include "system/service_control.h"

namespace vexo {

void CheckBrokerServiceAbsent(const std::wstring& run_id) {
  const UniqueServiceHandle manager = ConnectServiceManager();
  const OpenedService broker =
      OpenNamedService(manager.get(), BrokerServiceName(run_id), SERVICE_QUERY_CONFIG);
  if (broker.error != error::kServiceDoesNotExist) {
    ThrowFailure(message::kBrokerServiceAlreadyExists, error::kAlreadyExists);
  }
}

}  // namespace vexo
