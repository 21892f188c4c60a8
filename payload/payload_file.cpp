#include "payload/payload_file.h"

#include <string>

#include "common/crash_point.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/last_error.h"
#include "common/path.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/open_parameters.h"
#include "fs/protected_folder.h"
#include "fs/security_access.h"
#include "payload/messages.h"
#include "payload/payload_check.h"

namespace vexo {
namespace {

// All bytes written synchronously. A write may report success for fewer bytes than asked (Wine
// does when the disk fills up); the rest is written again, so the failure carries the error of
// the write that failed, never a stale one. A write that makes no progress at all has no error
// of its own and is reported as 13.
void WriteBytes(HANDLE file, const std::uint8_t* bytes, std::uint32_t size) {
  std::uint32_t done = 0;
  while (done < size) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes + done, size - done, &written, nullptr)) {
      ThrowLastError(message::kPayloadFileNotSaved);
    }
    if (written == 0) {
      ThrowFailure(message::kPayloadFileNotSaved, error::kInvalidData);
    }
    done += written;
  }
}

// The payload's bytes in two halves, then flushed to the disk. A launcher that ends between the
// halves (a test build can end it there) leaves a leading part of the payload file, which the
// cleanup recognises as its own interrupted write.
void WritePayloadBytes(HANDLE file, const PayloadView& payload) {
  const std::uint32_t half = payload.size / 2;
  WriteBytes(file, payload.data, half);
  CrashPoint(L"deploy-payload-half-written");
  WriteBytes(file, payload.data + half, payload.size - half);
  if (!::FlushFileBuffers(file)) {
    ThrowLastError(message::kPayloadFileNotSaved);
  }
}

// Writes and proves the new file on its exclusive write handle. Any failure marks the file
// for deletion first, so closing the handle leaves no half-made file behind.
void WriteAndVerifyNewFile(HANDLE file,
                           const std::wstring& path,
                           const PayloadEntry& entry,
                           const PayloadView& payload) {
  try {
    CheckHandleIdentity(file, path, ObjectKind::kFile);
    CheckFolderSecurity(file, FolderRule::kStrict);
    WritePayloadBytes(file, payload);
    VerifyFileDigest(file, entry.expected_digest);
  } catch (...) {
    SetDeleteDisposition(file);
    throw;
  }
}

}  // namespace

UniqueHandle DeployPayloadFile(std::wstring_view run_folder,
                               const PayloadEntry& entry,
                               PSECURITY_DESCRIPTOR descriptor) {
  const PayloadView payload = LoadVerifiedResource(entry);
  const std::wstring path = JoinPath(run_folder, entry.relative_path);
  {
    UniqueHandle written = CreateFileWithDescriptor(
        path, kDeployPayloadFile.desired_access, kDeployPayloadFile.share_mode,
        kDeployPayloadFile.flags_and_attributes, descriptor);
    if (!written) {
      ThrowLastError(message::kPayloadFileNotNew);
    }
    WriteAndVerifyNewFile(written.get(), path, entry, payload);
  }
  UniqueHandle pinned = PinFileForReading(path, PinSecurity::kStrictRule);
  VerifyFileDigest(pinned.get(), entry.expected_digest);
  return pinned;
}

void DeletePayloadFile(std::wstring_view run_folder, const PayloadEntry& entry) {
  const std::wstring path = JoinPath(run_folder, entry.relative_path);
  UniqueHandle file = OpenForDeletion(path, kDeletePayloadFile, message::kFileNotOpenedForCleanup,
                                      ::GetTickCount64() + kDeleteRetryLimitMs);
  CheckHandleIdentity(file.get(), path, ObjectKind::kFile);
  CheckFolderSecurity(file.get(), FolderRule::kStrict);
  VerifyPayloadOrLeadingPart(file.get(), entry);
  if (!SetDeleteDisposition(file.get())) {
    ThrowLastError(message::kTemporaryFilesNotCleaned);
  }
  // Closing the handle removes the file.
}

}  // namespace vexo
