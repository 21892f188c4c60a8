// Korean messages of the file layer, shown to the customer as written.
#pragma once

namespace vexo::message {

// Folder security.
inline constexpr wchar_t kFolderSecurityUnreadable[] = L"보호 폴더 권한을 확인하지 못했습니다.";
inline constexpr wchar_t kFolderSecurityUnsafe[] =
    L"보호 폴더 권한이 안전하지 않아 실행 또는 정리하지 않습니다.";

// Handle identity and existence.
inline constexpr wchar_t kFinalPathUnknown[] = L"실제 파일 경로를 확인하지 못했습니다.";
inline constexpr wchar_t kFileInformationUnreadable[] = L"파일 정보를 확인하지 못했습니다.";
inline constexpr wchar_t kLinkedOrChangedPath[] =
    L"연결 파일이나 변경된 경로는 사용할 수 없습니다.";
inline constexpr wchar_t kCleanupTargetUnknown[] = L"정리 대상 존재 여부를 확인하지 못했습니다.";

// Protected folders and pins.
inline constexpr wchar_t kProtectedFolderNotNew[] =
    L"임시 보호 폴더를 새로 만들지 못했습니다. 기존 폴더는 재사용하지 않습니다.";
inline constexpr wchar_t kProtectedFolderNotOpened[] = L"임시 보호 폴더를 열지 못했습니다.";
inline constexpr wchar_t kFolderNotOpenedForCleanup[] =
    L"임시 폴더를 정리하기 위해 열지 못했습니다.";
inline constexpr wchar_t kTemporaryFilesNotCleaned[] = L"임시 파일을 정리하지 못했습니다.";
inline constexpr wchar_t kFileNotPinned[] = L"실행 파일을 안전하게 고정하지 못했습니다.";
inline constexpr wchar_t kFolderPathInvalid[] = L"폴더 경로가 올바르지 않습니다.";
inline constexpr wchar_t kExecutionPathNotPinned[] = L"실행 경로를 고정하지 못했습니다.";

}  // namespace vexo::message
