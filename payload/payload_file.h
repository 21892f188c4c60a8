// Payload files in a run folder: written new from the verified resource, proven on disk and
// pinned; removed only while they still carry the catalogue digest. Both throw Failure.
#pragma once

#include <windows.h>

#include <string_view>

#include "common/handles.h"
#include "payload/catalogue.h"

namespace vexo {

// Writes one verified payload resource as a new file in `run_folder`, proves it on disk and
// returns it pinned for reading. A file that fails before its write handle is closed is
// removed; an existing file is never overwritten.
UniqueHandle DeployPayloadFile(std::wstring_view run_folder,
                               const PayloadEntry& entry,
                               PSECURITY_DESCRIPTOR descriptor);

// Deletes one payload file of `run_folder`, only when it is still the launcher's own file: the
// catalogue digest, or exactly a leading part of the embedded file (a write the launcher did
// not finish). Sharing and lock violations are retried for kDeleteRetryLimitMs.
void DeletePayloadFile(std::wstring_view run_folder, const PayloadEntry& entry);

}  // namespace vexo
