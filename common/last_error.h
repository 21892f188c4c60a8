// Raising a Failure for the Windows call that has just failed.
#pragma once

namespace vexo {

// Reads GetLastError() before anything else can change it, then throws a Failure with
// `message` and that code (13 when the failed call left no code, so a failure never reports
// success). Call it as the very next thing after the failing call.
[[noreturn]] void ThrowLastError(const wchar_t* message);

}  // namespace vexo
