// One launcher per Windows session.
//
// A pair of named mutexes scoped to the customer's session: the launcher lock, held by the
// launcher the customer started, and the keeper lock, held by the instance doing the work.
// The mutex is created unowned and never waited on; holding the handle is the lock and
// closing it releases it, so no thread ever blocks on it.
#pragma once

#include "common/handles.h"
#include "launcher/session_lock_name.h"

namespace vexo {

using SessionLock = UniqueHandle;

// Creates the session's lock of `kind` and returns it held. Throws Failure 5 when the session
// cannot be determined or is the services session 0, the creation error when the mutex cannot
// be created, and 183 when another process already holds the lock (after bringing an existing
// Host window forward); the handle is closed before the failure leaves.
SessionLock AcquireSessionLock(SessionLockKind kind);

// Restores a running Host's window (if any) and brings it to the foreground.
void BringHostWindowForward();

}  // namespace vexo
