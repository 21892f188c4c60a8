// Command-line shapes and the modes they select.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch_request.h"

namespace vexo {
namespace {

constexpr wchar_t kId[] = L"0123456789abcdef0123456789abcdef";

struct ShapeCase {
  std::vector<std::wstring> arguments;  // after the program itself
  bool valid;
  LaunchMode mode;
  const wchar_t* run_id;
};

TEST(LaunchRequestTest, Shapes) {
  const ShapeCase cases[] = {
      {{}, true, LaunchMode::kNormalStart, L""},
      {{L"--portable-elevated"}, true, LaunchMode::kElevatedStart, L""},
      {{L"--verify-payload"}, true, LaunchMode::kVerifyPayload, L""},
      {{L"--cleanup", kId}, true, LaunchMode::kCleanupRequest, kId},
      {{L"--cleanup-elevated", kId}, true, LaunchMode::kElevatedCleanup, kId},
      // Wrong shapes.
      {{L"--cleanup"}, false, {}, L""},
      {{L"--cleanup-elevated"}, false, {}, L""},
      {{L"--cleanup", L"0123456789ABCDEF0123456789abcdef"}, false, {}, L""},
      {{L"--cleanup", L"0123456789abcdef0123456789abcde"}, false, {}, L""},
      {{L"--cleanup", L"0123456789abcdef0123456789abcdef0"}, false, {}, L""},
      {{L"--cleanup", L"0123456789abcdeg0123456789abcdef"}, false, {}, L""},
      {{L"--cleanup", L""}, false, {}, L""},
      {{L"--cleanup", kId, L"x"}, false, {}, L""},
      {{L"--portable-elevated", kId}, false, {}, L""},
      {{L"--verify-payload", L"x"}, false, {}, L""},
      {{L"--Verify-Payload"}, false, {}, L""},
      {{L"--verify-payload "}, false, {}, L""},
      {{L"-verify-payload"}, false, {}, L""},
      {{L"--vexo-update-worker", L"12"}, false, {}, L""},
      {{L"/cleanup", kId}, false, {}, L""},
      {{L""}, false, {}, L""},
      {{L"x", L"y", L"z"}, false, {}, L""},
  };
  for (const ShapeCase& c : cases) {
    std::vector<std::wstring> arguments{L"C:\\dl\\Vexo-Host.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const auto request = ParseLaunchRequest(arguments);
    const std::string label = testing::PrintToString(c.arguments);
    ASSERT_EQ(request.has_value(), c.valid) << label;
    if (c.valid) {
      EXPECT_EQ(request->mode, c.mode) << label;
      EXPECT_EQ(request->run_id, c.run_id) << label;
    }
  }
}

TEST(LaunchRequestTest, EmptyArgumentListIsRefused) {
  EXPECT_FALSE(ParseLaunchRequest(std::vector<std::wstring>{}).has_value());
}

TEST(LaunchRequestTest, ElevatedModes) {
  EXPECT_TRUE(IsElevatedMode(LaunchMode::kElevatedStart));
  EXPECT_TRUE(IsElevatedMode(LaunchMode::kElevatedCleanup));
  EXPECT_FALSE(IsElevatedMode(LaunchMode::kNormalStart));
  EXPECT_FALSE(IsElevatedMode(LaunchMode::kCleanupRequest));
  EXPECT_FALSE(IsElevatedMode(LaunchMode::kVerifyPayload));
}

}  // namespace
}  // namespace vexo
