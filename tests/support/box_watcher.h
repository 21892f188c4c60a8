// The box watcher, and its GoogleTest glue: a scripted run passes only when its program ended
// in time and every box came exactly as scripted.
#pragma once

#include <gtest/gtest.h>

#include "tools/wine-bench/wine_driver.h"

namespace vexo::test {

inline ::testing::AssertionResult BoxesAsScripted(const ScriptedRun& run) {
  ::testing::AssertionResult result =
      run.violations.empty() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
  for (const auto& violation : run.violations) {
    result << "\n  " << violation;
  }
  return result;
}

}  // namespace vexo::test
