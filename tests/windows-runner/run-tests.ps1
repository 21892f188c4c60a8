# Runs the cross-built test programs of the windows-runner preset natively on a Windows x64
# runner: no Wine, no emulated file security or service account, no DLL override, the real
# desktop. One program at a time, since they share the session (its boxes, locks and services);
# one JUnit file per program. .github/workflows/windows.yml calls it once the build tree is
# unpacked where the programs' Z: paths point; docs/wine-gaps.md says what each run proves.
#
#   run-tests.ps1 -Bin <build tree>\bin -Results <folder>
param(
  [Parameter(Mandatory)] [string] $Bin,
  [Parameter(Mandatory)] [string] $Results
)
$ErrorActionPreference = 'Stop'

# The test programs, and for each the tests that start a program with the limited token: that
# is the administrator's split token, which exists only where User Account Control is on.
$Programs = @(
  @{ Name = 'common_failure_text_test' },
  @{ Name = 'common_path_test' },
  @{ Name = 'launcher_request_test' },
  @{ Name = 'launcher_elevation_test' },
  @{ Name = 'payload_catalogue_rules_test' },
  @{ Name = 'payload_launcher_image_test' },
  @{ Name = 'payload_file_security_test' },
  @{ Name = 'update_rules_test' },
  @{ Name = 'update_signature_test' },
  @{ Name = 'deploy_host_start_test' },
  @{ Name = 'cleanup_broker_service_test' },
  @{ Name = 'e2e_launcher_test'; Limited = 'LauncherModesTest.*:BoxReaderTest.*:RelaunchThroughRunasTest.*' },
  @{ Name = 'e2e_dll_search_test'; Limited = 'DllSearchTest.*' }
)
$TimeLimitMs = 15 * 60 * 1000

# The launcher refuses the services' session 0 by design, and the tests, like Wine's processes,
# start as an elevated administrator.
$session = (Get-Process -Id $PID).SessionId
$policy = Get-ItemProperty 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System'
$uac = $policy.EnableLUA -eq 1
$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
$elevated = ([Security.Principal.WindowsPrincipal]$identity).IsInRole(
  [Security.Principal.WindowsBuiltInRole]::Administrator)
Write-Host ("Windows {0}, session {1}, User Account Control {2} (admin consent {3}), {4}" -f
  [Environment]::OSVersion.Version, $session, $(if ($uac) { 'on' } else { 'off' }),
  $policy.ConsentPromptBehaviorAdmin, $(if ($elevated) { 'elevated administrator' } else { 'not elevated' }))
if ($session -eq 0) { throw 'the job runs in session 0, which the launcher refuses; use a runner with an interactive session' }
if (-not $elevated) { throw 'the tests start as an elevated administrator; this job is not one' }

New-Item -ItemType Directory -Force -Path $Results | Out-Null
$failed = @()
$notRun = @()
foreach ($program in $Programs) {
  $filter = '*'
  if ($program.Limited -and -not $uac) {
    $filter = "*-$($program.Limited)"
    $notRun += "$($program.Name): $($program.Limited) (no split token: User Account Control is off)"
  }
  Write-Host "=== $($program.Name) --gtest_filter=$filter"
  $arguments = @("--gtest_filter=$filter", "--gtest_output=xml:$(Join-Path $Results "$($program.Name).xml")")
  $process = Start-Process -FilePath (Join-Path $Bin "$($program.Name).exe") -ArgumentList $arguments `
    -WorkingDirectory $Bin -NoNewWindow -PassThru
  $null = $process.Handle  # keeps the exit code readable after the process ends
  if (-not $process.WaitForExit($TimeLimitMs)) {
    $process.Kill()
    $failed += "$($program.Name) (time limit)"
  } elseif ($process.ExitCode -ne 0) {
    $failed += "$($program.Name) (exit code $($process.ExitCode))"
  }
}

Write-Host "`n=== summary"
$notRun | ForEach-Object { Write-Host "not run: $_" }
$failed | ForEach-Object { Write-Host "FAILED: $_" }
Write-Host ("{0} programs passed, {1} failed" -f ($Programs.Count - $failed.Count), $failed.Count)
if ($failed.Count -gt 0) { exit 1 }
