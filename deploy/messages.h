// Korean messages of the deployment and the Host start, shown to the customer as written.
#pragma once

#include "system/process_wait.h"

namespace vexo::message {

// The deployment.
inline constexpr wchar_t kDeploymentNeedsApproval[] =
    L"Windows 관리자 승인이 필요합니다. 승인하지 않으면 실행하지 않습니다.";
inline constexpr wchar_t kAuxiliaryServiceNotPrepared[] =
    L"이번 실행의 관리자 화면 보조서비스를 준비하지 못했습니다.";
inline constexpr wchar_t kHostEnded[] = L"Vexo Host가 종료되었습니다. 종료 코드: ";
inline constexpr wchar_t kDeploymentUnexpectedError[] =
    L"임시 실행 파일 준비 중 오류가 발생했습니다.";
inline constexpr wchar_t kRemainingPath[] = L"남은 경로: ";
inline constexpr wchar_t kRunCleanupCommandLater[] =
    L"Host를 종료한 후 같은 버전 실행 파일로 아래 명령을 실행해 주세요.";
inline constexpr wchar_t kCleanupUnexpectedError[] =
    L"임시 파일 정리 중 오류가 발생했습니다. 실행 식별자: ";

// Waiting for the remote-support run (the Host, or the elevated instance that runs it).
inline constexpr wchar_t kWaitForEndFailed[] = L"원격지원 종료를 기다리지 못했습니다.";
inline constexpr wchar_t kPreparationTimedOut[] = L"보조서비스 준비 시간이 초과되었습니다.";
inline constexpr wchar_t kRunResultUnknown[] = L"실행 결과를 확인하지 못했습니다.";

inline constexpr ProcessWaitMessages kRemoteSupportWait{kWaitForEndFailed, kPreparationTimedOut,
                                                        kRunResultUnknown};

}  // namespace vexo::message
