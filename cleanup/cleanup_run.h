// The removal of one run: its broker service, its payload files, its two payload folders and
// the run folder, after everything has been proven to be exactly what this launcher deploys.
#pragma once

#include <string>
#include <string_view>

namespace vexo {

// Phase A opens, pins and checks everything and changes nothing: the base folder chain, the
// run folder and its payload folders, every payload file (pinned, digest checked), the
// inventory, the Host check and the service probes. Phase B removes the service, checks the
// Host again and deletes the files and folders in their fixed order. With the service gone,
// missing items are skipped, so a cleanup that stopped in phase B can be run again. Every
// failure is a Failure; nothing is rolled back. The base folder stays.
void CleanupRun(const std::wstring& run_folder, std::wstring_view run_id);

}  // namespace vexo
