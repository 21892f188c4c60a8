// Resource removal and byte patches on copies of a real executable, scratch folders, and the
// same operations through vexo-testctl.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/box_sample_protocol.h"
#include "tests/support/program_start.h"
#include "tests/support/resource_patcher.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/support_error.h"

namespace vexo::test {
namespace {

constexpr std::uint32_t kTimeoutMs = 30000;

std::vector<std::uint8_t> Bytes(const char* text) {
  return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

std::wstring SamplePath() {
  return CurrentProgramFolder() + L"\\box-sample.exe";
}

// The copy still loads and runs: the patch left a valid executable.
void ExpectCopyRuns(const std::wstring& copy) {
  const ProgramResult result =
      RunProgram(ProgramCommand(copy, {sample::kElevationSwitch}), kTimeoutMs);
  EXPECT_EQ(result.exit_code, sample::kExitElevated);
}

TEST(ResourcePatcher, ReadsTheResourcesOfTheSample) {
  EXPECT_EQ(ReadResource(SamplePath(), RT_RCDATA, sample::kFirstResourceId),
            Bytes(sample::kFirstResourceText));
  EXPECT_EQ(ReadResource(SamplePath(), RT_RCDATA, sample::kSecondResourceId),
            Bytes(sample::kSecondResourceText));
  EXPECT_FALSE(HasResource(SamplePath(), RT_RCDATA, 999));
}

TEST(ResourcePatcher, RemovesOneResourceOfACopy) {
  const ScratchFolder scratch(L"strip");
  const std::wstring copy = scratch.CopyIn(SamplePath(), L"sample.exe");
  RemoveResource(copy, RT_RCDATA, sample::kFirstResourceId);
  EXPECT_FALSE(HasResource(copy, RT_RCDATA, sample::kFirstResourceId));
  EXPECT_EQ(ReadResource(copy, RT_RCDATA, sample::kSecondResourceId),
            Bytes(sample::kSecondResourceText));
  EXPECT_TRUE(HasResource(SamplePath(), RT_RCDATA, sample::kFirstResourceId));
  ExpectCopyRuns(copy);
}

TEST(ResourcePatcher, ChangesExactlyOneByte) {
  const std::vector<std::uint8_t> original = Bytes(sample::kFirstResourceText);
  for (const std::uint32_t offset : {0U, 3U, static_cast<std::uint32_t>(original.size() - 1)}) {
    const ScratchFolder scratch(L"patch");
    const std::wstring copy = scratch.CopyIn(SamplePath(), L"sample.exe");
    FlipResourceByte(copy, sample::kFirstResourceId, offset);
    std::vector<std::uint8_t> expected = original;
    expected[offset] = static_cast<std::uint8_t>(~expected[offset]);
    EXPECT_EQ(ReadResource(copy, RT_RCDATA, sample::kFirstResourceId), expected) << offset;
    EXPECT_EQ(ReadResource(copy, RT_RCDATA, sample::kSecondResourceId),
              Bytes(sample::kSecondResourceText));
    ExpectCopyRuns(copy);
  }
}

TEST(ResourcePatcher, RefusesWhatIsNotThere) {
  const ScratchFolder scratch(L"refuse");
  const std::wstring copy = scratch.CopyIn(SamplePath(), L"sample.exe");
  const auto size = static_cast<std::uint32_t>(std::strlen(sample::kFirstResourceText));
  EXPECT_THROW(FlipResourceByte(copy, sample::kFirstResourceId, size), SupportError);
  EXPECT_THROW(FlipResourceByte(copy, 999, 0), SupportError);
  EXPECT_THROW(RemoveResource(copy, RT_RCDATA, 999), SupportError);
  EXPECT_EQ(ReadResource(copy, RT_RCDATA, sample::kFirstResourceId),
            Bytes(sample::kFirstResourceText));
  EXPECT_THROW(scratch.CopyIn(SamplePath(), L"sample.exe"), SupportError);
}

TEST(ScratchFolder, FreshPerTestAndRemovedWithItsContents) {
  std::wstring first_path;
  {
    const ScratchFolder first(L"scratch");
    const ScratchFolder second(L"scratch");
    first_path = first.path();
    EXPECT_NE(first.path(), second.path());
    EXPECT_EQ(first.path().rfind(std::wstring(kScratchRoot) + L"\\scratch-", 0), 0U);
    const std::wstring nested = first.PathOf(L"sub");
    ASSERT_TRUE(::CreateDirectoryW(nested.c_str(), nullptr));
    const std::wstring file = nested + L"\\읽기전용.txt";
    first.CopyIn(SamplePath(), L"sample.exe");
    CopyFileFresh(SamplePath(), file);
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  EXPECT_EQ(::GetFileAttributesW(first_path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(VexoTestctl, PatchesAndStripsResources) {
  const ScratchFolder scratch(L"testctl");
  const std::wstring copy = scratch.CopyIn(SamplePath(), L"sample.exe");
  const std::wstring tool = CurrentProgramFolder() + L"\\vexo-testctl.exe";
  const std::wstring id = std::to_wstring(sample::kFirstResourceId);

  EXPECT_EQ(
      RunProgram(ProgramCommand(tool, {L"patch-resource", copy, id, L"2"}), kTimeoutMs).exit_code,
      0U);
  std::vector<std::uint8_t> expected = Bytes(sample::kFirstResourceText);
  expected[2] = static_cast<std::uint8_t>(~expected[2]);
  EXPECT_EQ(ReadResource(copy, RT_RCDATA, sample::kFirstResourceId), expected);

  EXPECT_EQ(RunProgram(ProgramCommand(tool, {L"strip-resource", copy, id}), kTimeoutMs).exit_code,
            0U);
  EXPECT_FALSE(HasResource(copy, RT_RCDATA, sample::kFirstResourceId));

  // A second strip finds nothing to remove: the tool fails, it does not pretend.
  EXPECT_EQ(RunProgram(ProgramCommand(tool, {L"strip-resource", copy, id}), kTimeoutMs).exit_code,
            3U);
  EXPECT_EQ(RunProgram(ProgramCommand(tool, {L"patch-resource", copy}), kTimeoutMs).exit_code, 2U);
}

TEST(VexoTestctl, RunAnswersBoxesAndReturnsTheExitCode) {
  const std::wstring tool = CurrentProgramFolder() + L"\\vexo-testctl.exe";
  const std::wstring confirmation = std::to_wstring(MB_YESNO | MB_ICONINFORMATION);
  const ProgramResult answered_no =
      RunProgram(ProgramCommand(tool, {L"run", L"--answer", L"no", L"--", SamplePath(),
                                       sample::kBoxSwitch, confirmation, L"정리할까요?"}),
                 kTimeoutMs);
  EXPECT_EQ(answered_no.exit_code, static_cast<std::uint32_t>(IDNO));
  const ProgramResult limited = RunProgram(
      ProgramCommand(tool, {L"run", L"--limited", L"--", SamplePath(), sample::kElevationSwitch}),
      kTimeoutMs);
  EXPECT_EQ(limited.exit_code, sample::kExitNotElevated);
  const ProgramResult hung = RunProgram(
      ProgramCommand(tool,
                     {L"run", L"--timeout-ms", L"300", L"--", SamplePath(), sample::kHangSwitch}),
      kTimeoutMs);
  EXPECT_EQ(hung.exit_code, static_cast<std::uint32_t>(ERROR_TIMEOUT));
}

}  // namespace
}  // namespace vexo::test
