// Korean messages of the cleanup, shown to the customer as written.
#pragma once

namespace vexo::message {

inline constexpr wchar_t kCleanupNotInThisBuild[] =
    L"이 실행 파일에는 아직 정리 기능이 포함되어 있지 않습니다.";

}  // namespace vexo::message
