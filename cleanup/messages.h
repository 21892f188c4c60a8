// Korean messages of the cleanup, shown to the customer as written.
#pragma once

namespace vexo::message {

// The cleanup command.
inline constexpr wchar_t kCleanupNeedsRunIdAndApproval[] =
    L"정리하려면 정확한 실행 식별자와 Windows 관리자 승인이 필요합니다.";
inline constexpr wchar_t kCleanupDone[] =
    L"지정한 실행의 임시 보조서비스와 파일을 정리했습니다. 고객 설정과 Windows 보안 정책은 변경하지 "
    L"않았습니다.";
inline constexpr wchar_t kServiceChangedDuringCheck[] =
    L"정리 확인 중 서비스 상태가 변경되어 임시 파일을 보존했습니다.";

// The run folder sweep.
inline constexpr wchar_t kCleanupFolderUnreadable[] = L"정리 대상 폴더 내용을 확인하지 못했습니다.";
inline constexpr wchar_t kUnknownFilesKept[] =
    L"알 수 없는 파일이 있어 임시 폴더를 보존했습니다. 자동으로 삭제하지 않습니다.";
inline constexpr wchar_t kCleanupFolderCheckIncomplete[] =
    L"정리 대상 폴더 확인을 완료하지 못했습니다.";

}  // namespace vexo::message
