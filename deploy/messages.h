// Korean messages of the deployment and the Host start, shown to the customer as written.
#pragma once

#include "system/process_wait.h"

namespace vexo::message {

inline constexpr wchar_t kDeploymentNotInThisBuild[] =
    L"이 실행 파일에는 아직 Host 배포 기능이 포함되어 있지 않습니다.";

// Waiting for the remote-support run (the Host, or the elevated instance that runs it).
inline constexpr wchar_t kWaitForEndFailed[] = L"원격지원 종료를 기다리지 못했습니다.";
inline constexpr wchar_t kPreparationTimedOut[] = L"보조서비스 준비 시간이 초과되었습니다.";
inline constexpr wchar_t kRunResultUnknown[] = L"실행 결과를 확인하지 못했습니다.";

inline constexpr ProcessWaitMessages kRemoteSupportWait{kWaitForEndFailed, kPreparationTimedOut,
                                                        kRunResultUnknown};

}  // namespace vexo::message
