// Korean messages of the shared Windows plumbing, shown to the customer as written.
#pragma once

namespace vexo::message {

inline constexpr wchar_t kServicesNotChecked[] = L"Windows 서비스를 확인하지 못했습니다.";

}  // namespace vexo::message
