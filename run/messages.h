// Korean messages of the run placement, shown to the customer as written.
#pragma once

namespace vexo::message {

inline constexpr wchar_t kProgramFilesUnknown[] = L"Windows 보호 폴더를 확인하지 못했습니다.";
inline constexpr wchar_t kRunIdNotCreated[] = L"임시 실행 식별자를 만들지 못했습니다.";
inline constexpr wchar_t kRunFolderSecurityNotPrepared[] =
    L"임시 보호 폴더 권한을 준비하지 못했습니다.";

}  // namespace vexo::message
