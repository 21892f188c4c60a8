// Korean messages of the shared utilities, shown to the customer as written.
#pragma once

namespace vexo::message {

inline constexpr wchar_t kLauncherLocationUnknown[] = L"실행 파일 위치를 확인하지 못했습니다.";
inline constexpr wchar_t kRunFromLocalFolder[] =
    L"실행 파일을 고객 PC의 로컬 폴더에 내려받아 실행해 주세요.";
inline constexpr wchar_t kErrorCodePrefix[] = L"오류 ";

}  // namespace vexo::message
