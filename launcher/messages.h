// Korean messages of the launcher entry and modes, shown to the customer as written.
#pragma once

namespace vexo::message {

// ---- Entry point ---------------------------------------------------------------------------

inline constexpr wchar_t kAdministratorApprovalRequired[] = L"Windows 관리자 승인이 필요합니다.";
inline constexpr wchar_t kCloseExistingHostFirst[] = L"기존 Vexo Host를 종료한 후 실행해 주세요.";
inline constexpr wchar_t kUnexpectedError[] =
    L"실행 파일 또는 경로 확인 중 오류가 발생했습니다. 고객 PC의 로컬 폴더에서 다시 실행해 주세요.";
inline constexpr wchar_t kCleanupConfirmation[] =
    L"지정한 실행의 임시 파일과 보조서비스를 정리할까요?\n\n"
    L"해당 Host를 먼저 종료해 주세요. 같은 버전의 허용된 파일만 정리하며 알 수 없는 파일은 "
    L"보존합니다. 다음 Windows 관리자 요청을 승인해 주세요.";

// ---- Single-instance guard ----------------------------------------------------------------

inline constexpr wchar_t kSessionUnknown[] = L"고객의 Windows 세션을 확인하지 못했습니다.";
inline constexpr wchar_t kDuplicateStateUnknown[] = L"중복 실행 상태를 확인하지 못했습니다.";
inline constexpr wchar_t kAlreadyRunning[] =
    L"Vexo Host가 이미 실행 중입니다. 기존 창을 사용해 주세요.";

// ---- Elevation -------------------------------------------------------

inline constexpr wchar_t kElevationCancelledOrFailed[] =
    L"Windows 관리자 승인이 취소되었거나 실행하지 못했습니다.";
inline constexpr wchar_t kElevatedStartUnconfirmed[] = L"관리자 승인 실행을 확인하지 못했습니다.";

}  // namespace vexo::message
