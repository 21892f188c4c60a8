// Korean messages of the cleanup, shown to the customer as written.
#pragma once

namespace vexo::message {

inline constexpr wchar_t kCleanupNotInThisBuild[] =
    L"이 실행 파일에는 아직 정리 기능이 포함되어 있지 않습니다.";

// The run folder sweep.
inline constexpr wchar_t kCleanupFolderUnreadable[] = L"정리 대상 폴더 내용을 확인하지 못했습니다.";
inline constexpr wchar_t kUnknownFilesKept[] =
    L"알 수 없는 파일이 있어 임시 폴더를 보존했습니다. 자동으로 삭제하지 않습니다.";
inline constexpr wchar_t kCleanupFolderCheckIncomplete[] =
    L"정리 대상 폴더 확인을 완료하지 못했습니다.";

}  // namespace vexo::message
