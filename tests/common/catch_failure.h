// Test helper: the Failure an operation throws.
#pragma once

#include <gtest/gtest.h>

#include "common/failure.h"

namespace vexo {

// Runs `call` and returns the Failure it throws; fails the test when it throws none.
template <typename Call>
Failure CatchFailure(Call&& call) {
  try {
    call();
  } catch (const Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "no Failure was thrown";
  return Failure{0, L""};
}

}  // namespace vexo
