// Holders for the handle kinds only the test bench uses.
#pragma once

#include <windows.h>

#include "common/handles.h"
#include "common/unique_resource.h"

namespace vexo::test {

using vexo::UniqueModule;

using UniqueWindowsHook = UniqueResource<NullableTraits<HHOOK, &::UnhookWindowsHookEx>>;

// A pending resource update. Dropping it discards the changes; committing is
// EndUpdateResourceW(release(), FALSE).
inline void DiscardResourceUpdate(HANDLE update) noexcept {
  ::EndUpdateResourceW(update, TRUE);
}
using UniqueResourceUpdate = UniqueResource<NullableTraits<HANDLE, &DiscardResourceUpdate>>;

}  // namespace vexo::test
