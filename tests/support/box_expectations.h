// GoogleTest glue for the box watcher: a scripted run passes only when its program ended in
// time and every box came exactly as scripted.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/box_watcher.h"

namespace vexo::test {

inline ::testing::AssertionResult BoxesAsScripted(const ScriptedRun& run) {
  if (run.violations.empty()) {
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  for (const auto& violation : run.violations) {
    failure << "\n  " << violation;
  }
  return failure;
}

}  // namespace vexo::test
