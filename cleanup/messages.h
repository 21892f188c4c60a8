// Korean messages of the cleanup, shown to the customer as written.
#pragma once

namespace vexo::message {

// The cleanup command.
inline constexpr wchar_t kCleanupNeedsRunIdAndApproval[] =
    L"정리하려면 정확한 실행 식별자와 Windows 관리자 승인이 필요합니다.";
inline constexpr wchar_t kCleanupDone[] =
    L"지정한 실행의 임시 보조서비스와 파일을 정리했습니다. 고객 설정과 Windows 보안 정책은 "
    L"변경하지 "
    L"않았습니다.";
inline constexpr wchar_t kServiceChangedDuringCheck[] =
    L"정리 확인 중 서비스 상태가 변경되어 임시 파일을 보존했습니다.";

// The run folder sweep.
inline constexpr wchar_t kCleanupFolderUnreadable[] = L"정리 대상 폴더 내용을 확인하지 못했습니다.";
inline constexpr wchar_t kUnknownFilesKept[] =
    L"알 수 없는 파일이 있어 임시 폴더를 보존했습니다. 자동으로 삭제하지 않습니다.";
inline constexpr wchar_t kCleanupFolderCheckIncomplete[] =
    L"정리 대상 폴더 확인을 완료하지 못했습니다.";

// Host detection.
inline constexpr wchar_t kRunningHostNotChecked[] = L"실행 중인 Host를 확인하지 못했습니다.";
inline constexpr wchar_t kRunningProgramsNotChecked[] =
    L"실행 중인 프로그램을 확인하지 못했습니다.";
inline constexpr wchar_t kHostEndUnknown[] = L"Host 종료 여부를 확인할 수 없어 정리하지 않습니다.";
inline constexpr wchar_t kHostPathUnknown[] = L"Host 경로를 확인할 수 없어 정리하지 않습니다.";
inline constexpr wchar_t kCloseHostFirst[] =
    L"해당 실행의 Host를 먼저 종료해 주세요. 연결 중인 Host는 강제 종료하지 않습니다.";
inline constexpr wchar_t kHostCheckIncomplete[] = L"Host 종료 확인을 완료하지 못했습니다.";
inline constexpr wchar_t kHostRightsNotChecked[] = L"실행 중인 Host 권한을 확인하지 못했습니다.";
inline constexpr wchar_t kHostRightsInvalid[] = L"Host 권한 정보가 올바르지 않습니다.";
inline constexpr wchar_t kHostRightsNotRead[] = L"실행 중인 Host 권한을 읽지 못했습니다.";

// Broker service removal.
inline constexpr wchar_t kBrokerPresenceUnknown[] =
    L"이 실행의 보조서비스 존재 여부를 확인하지 못했습니다.";
inline constexpr wchar_t kBrokerNotChecked[] = L"이 실행의 보조서비스를 확인하지 못했습니다.";
inline constexpr wchar_t kBrokerConfigInvalid[] = L"보조서비스 설정이 올바르지 않습니다.";
inline constexpr wchar_t kBrokerConfigNotRead[] = L"보조서비스 설정을 읽지 못했습니다.";
inline constexpr wchar_t kBrokerDiffers[] = L"서비스가 이 실행의 설정과 달라 변경하지 않습니다.";
inline constexpr wchar_t kBrokerProcessNotChecked[] = L"보조서비스 프로세스를 확인하지 못했습니다.";
inline constexpr wchar_t kBrokerProcessEndUnknown[] =
    L"보조서비스 프로세스 종료를 확인할 수 없습니다.";
inline constexpr wchar_t kBrokerProcessNotThisRun[] =
    L"보조서비스 프로세스가 이 실행과 달라 변경하지 않습니다.";
inline constexpr wchar_t kBrokerStateNotChecked[] = L"보조서비스 상태를 확인하지 못했습니다.";
inline constexpr wchar_t kBrokerStopRequestFailed[] = L"보조서비스 중지 요청에 실패했습니다.";
inline constexpr wchar_t kBrokerNotStopped[] =
    L"보조서비스가 아직 종료되지 않아 임시 파일을 보존했습니다.";
inline constexpr wchar_t kBrokerStopNotConfirmed[] = L"보조서비스 중지를 확인하지 못했습니다.";
inline constexpr wchar_t kBrokerNotDeleted[] = L"보조서비스 등록을 정리하지 못했습니다.";
inline constexpr wchar_t kBrokerProcessNotEnded[] =
    L"보조서비스 프로세스가 아직 종료되지 않아 임시 파일을 보존했습니다.";
inline constexpr wchar_t kBrokerRemovalUnfinished[] =
    L"보조서비스 제거가 아직 끝나지 않아 임시 파일을 보존했습니다.";

}  // namespace vexo::message
