// The signed update manifest: envelope, signature and payload rules.
//
// The rules are portable; the two things they need from the system, the signature check
// and the clock, come in as functions. The launcher passes CNG and the system time
// (manifest_verify_win.h); tests and fuzzers pass fakes so every field rule can be reached.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

inline constexpr std::size_t kMaxManifestBytes = 16384;      // inclusive
inline constexpr std::size_t kMaxSignedPayloadBytes = 8191;  // inclusive
inline constexpr std::size_t kEnvelopeMembers = 3;
inline constexpr std::size_t kPayloadMembers = 10;
inline constexpr std::size_t kFileMembers = 3;
inline constexpr std::size_t kPublicKeyBlobBytes = 72;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kSignatureHexLength = 2 * kSignatureBytes;
inline constexpr std::size_t kSha256HexLength = 64;

inline constexpr char kUpdateKeyId[] = "vexo-update-2026-01";
inline constexpr char kManifestBrand[] = "vexolink";
inline constexpr char kManifestPlatform[] = "windows-x64";
inline constexpr char kManifestChannel[] = "stable";
inline constexpr std::uint64_t kManifestSchema = 1;

inline constexpr std::uint64_t kMaxIssuedAtAheadSeconds = 300;
inline constexpr std::uint64_t kMaxValiditySeconds = 15552000;     // 180 days, inclusive
inline constexpr std::uint64_t kSequenceLimit = 9007199254740992;  // 2^53, exclusive
inline constexpr std::uint64_t kMinProgramBytes = 65536;
inline constexpr std::uint64_t kMaxProgramBytes = 67108864;

inline constexpr char kManifestRequestPrefix[] = "/api/program-updates/v1/manifest/";
inline constexpr char kProgramFileRequestPrefix[] = "/api/program-updates/v1/files/";
inline constexpr char kProgramFileSuffix[] = ".exe";

// FILETIME of 1970-01-01 00:00:00 UTC and FILETIME ticks per second.
inline constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000;
inline constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000;

struct VerifiedManifest {
  std::string version;
  std::string sha256;  // 64 lower-case hex digits
  std::string path;    // request path of the program file
  std::uint64_t bytes = 0;
  std::uint64_t sequence = 0;
};

// Verifies a P1363 ECDSA P-256 signature (r then s, 32 bytes each) over the SHA-256 of
// `signed_bytes` with the 72-byte CNG public-key blob. False when the key does not import
// or the signature does not verify; may raise "update_validation_failed" for other faults.
using ManifestSignatureCheck = std::function<bool(std::span<const std::uint8_t> public_key_blob,
                                                  std::span<const std::uint8_t> signature,
                                                  std::string_view signed_bytes)>;

// The current system time as a FILETIME value (100 ns units since 1601-01-01 UTC).
using SystemFileTimeClock = std::function<std::uint64_t()>;

struct ManifestTrust {
  std::string_view public_key_hex;  // 144 lower-case hex digits
  ManifestSignatureCheck check_signature;
  SystemFileTimeClock read_clock;
};

// Even length, at least two characters, only '0'-'9' and 'a'-'f'; each pair is one byte, high
// nibble first. Raises "update_validation_failed" for any other text.
std::vector<std::uint8_t> DecodeLowerHex(std::string_view text);

// Whole seconds since 1970 for a FILETIME. A clock before 1970 cannot date anything:
// "update_validation_failed".
std::uint64_t UnixSecondsFromFileTime(std::uint64_t file_time);

// Every envelope and payload rule, in order; the signature is checked before a payload
// field is read. Raises "update_validation_failed", or the JSON library's own error for
// malformed text, a missing member or a member of the wrong type.
VerifiedManifest VerifyUpdateManifestWith(const ManifestTrust& trust,
                                          std::string_view manifest_text,
                                          std::string_view role,
                                          std::string_view current_version,
                                          std::uint64_t minimum_sequence);

// "/api/program-updates/v1/files/<sha256>.exe"
std::string ProgramFileRequestPath(std::string_view sha256);

}  // namespace vexo
