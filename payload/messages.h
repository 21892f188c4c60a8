// Korean messages of the payload checks, shown to the customer as written.
#pragma once

namespace vexo::message {

inline constexpr wchar_t kPayloadIdInvalid[] = L"내장 파일 식별자가 올바르지 않습니다.";
inline constexpr wchar_t kPayloadPathNotAllowed[] = L"내장 파일 경로가 허용 목록과 다릅니다.";
inline constexpr wchar_t kPayloadResourceMissing[] = L"필요한 내장 파일이 없습니다.";
inline constexpr wchar_t kPayloadSizeInvalid[] = L"내장 파일 크기가 올바르지 않습니다.";
inline constexpr wchar_t kHashNotPrepared[] = L"파일 검증을 준비하지 못했습니다.";
inline constexpr wchar_t kHashInfoInvalid[] = L"파일 검증 정보가 올바르지 않습니다.";
inline constexpr wchar_t kHashNotStarted[] = L"파일 검증을 시작하지 못했습니다.";
inline constexpr wchar_t kHashFailed[] = L"파일 무결성 검증에 실패했습니다.";
inline constexpr wchar_t kDigestInfoInvalid[] = L"내장 파일 검증 정보가 올바르지 않습니다.";
inline constexpr wchar_t kDigestNotObtained[] = L"파일 검증 결과를 얻지 못했습니다.";
inline constexpr wchar_t kVersionMismatch[] =
    L"내장 파일이 현재 실행 파일의 버전과 일치하지 않아 실행 또는 정리하지 않습니다.";
inline constexpr wchar_t kVerifiedFileSeekFailed[] = L"검증 파일 위치를 찾지 못했습니다.";
inline constexpr wchar_t kVerifiedFileReadFailed[] = L"검증 파일을 읽지 못했습니다.";
inline constexpr wchar_t kVerifiedFileRewindFailed[] = L"검증 파일 위치를 복구하지 못했습니다.";

// Payload files.
inline constexpr wchar_t kPayloadFileNotNew[] =
    L"내장 파일을 새로 배치하지 못했습니다. 기존 파일은 덮어쓰지 않습니다.";
inline constexpr wchar_t kPayloadFileNotSaved[] = L"내장 파일 저장을 완료하지 못했습니다.";
inline constexpr wchar_t kFileNotOpenedForCleanup[] = L"임시 파일을 정리하기 위해 열지 못했습니다.";

}  // namespace vexo::message
