// Korean messages of the launcher entry and modes, shown to the customer as written.
#pragma once

namespace vexo::message {

// ---- Single-instance guard ----------------------------------------------------------------

inline constexpr wchar_t kSessionUnknown[] = L"고객의 Windows 세션을 확인하지 못했습니다.";
inline constexpr wchar_t kDuplicateStateUnknown[] = L"중복 실행 상태를 확인하지 못했습니다.";
inline constexpr wchar_t kAlreadyRunning[] =
    L"Vexo Host가 이미 실행 중입니다. 기존 창을 사용해 주세요.";

// ---- Elevation and the pumping wait -------------------------------------------------------

inline constexpr wchar_t kElevationCancelledOrFailed[] =
    L"Windows 관리자 승인이 취소되었거나 실행하지 못했습니다.";
inline constexpr wchar_t kElevatedStartUnconfirmed[] = L"관리자 승인 실행을 확인하지 못했습니다.";
inline constexpr wchar_t kWaitForEndFailed[] = L"원격지원 종료를 기다리지 못했습니다.";
inline constexpr wchar_t kPreparationTimedOut[] = L"보조서비스 준비 시간이 초과되었습니다.";
inline constexpr wchar_t kRunResultUnknown[] = L"실행 결과를 확인하지 못했습니다.";

}  // namespace vexo::message
