// Korean messages of the deployment and the Host start, shown to the customer as written.
#pragma once

#include "system/job_process.h"
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

// Starting the Host inside its exit protection job.
inline constexpr wchar_t kExitProtectionNotPrepared[] =
    L"원격지원 종료 보호를 준비하지 못했습니다.";
inline constexpr wchar_t kExitProtectionNotApplied[] = L"원격지원 종료 보호를 적용하지 못했습니다.";
inline constexpr wchar_t kHostNotStarted[] = L"원격지원 Host를 실행하지 못했습니다.";
inline constexpr wchar_t kExitProtectionNotAttached[] =
    L"원격지원 프로세스 종료 보호를 연결하지 못했습니다.";

inline constexpr JobProcessMessages kHostStart{kExitProtectionNotPrepared,
                                               kExitProtectionNotApplied, kHostNotStarted,
                                               kExitProtectionNotAttached};

// The check before the Host start that the run's broker service does not exist yet.
inline constexpr wchar_t kBrokerServiceAlreadyExists[] =
    L"같은 식별자의 기존 서비스가 있어 실행하지 않습니다.";

}  // namespace vexo::message
