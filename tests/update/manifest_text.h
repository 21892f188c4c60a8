// Builds manifest texts member by member from raw JSON text, so tests can write any form a
// hostile server could send (5e0, -5, duplicated or missing members, odd escapes).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vexo::testing_support {

inline constexpr std::uint64_t kTestNow = 1800000000;  // 2027-01-15, Unix seconds
inline constexpr char kTestSha256[] =
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// A member list kept in order; an empty raw value leaves the member out.
using RawMembers = std::vector<std::pair<std::string, std::string>>;

inline std::string RawObject(const RawMembers& members) {
  std::string text = "{";
  for (const auto& [name, raw] : members) {
    if (raw.empty()) {
      continue;
    }
    if (text.size() > 1) {
      text += ",";
    }
    text += "\"" + name + "\":" + raw;
  }
  return text + "}";
}

inline std::string Quoted(const std::string& text) {
  return nlohmann::json(text).dump();
}

inline RawMembers ValidFileMembers() {
  return {{"sha256", Quoted(kTestSha256)},
          {"bytes", "65536"},
          {"path", Quoted(std::string("/api/program-updates/v1/files/") + kTestSha256 + ".exe")}};
}

inline RawMembers ValidPayloadMembers() {
  return {{"schema", "1"},
          {"brand", Quoted("vexolink")},
          {"role", Quoted("host")},
          {"platform", Quoted("windows-x64")},
          {"channel", Quoted("stable")},
          {"issuedAt", std::to_string(kTestNow - 60)},
          {"expiresAt", std::to_string(kTestNow + 30 * 86400)},
          {"version", Quoted("0.2.2")},
          {"sequence", "7"},
          {"file", RawObject(ValidFileMembers())}};
}

inline void SetMember(RawMembers& members, const std::string& name, const std::string& raw) {
  for (auto& member : members) {
    if (member.first == name) {
      member.second = raw;
      return;
    }
  }
  members.emplace_back(name, raw);
}

inline std::string FakeSignatureHex() {
  return std::string(128, 'a');
}

inline RawMembers EnvelopeMembers(const std::string& payload_text,
                                  const std::string& signature_hex = FakeSignatureHex()) {
  return {{"keyId", Quoted("vexo-update-2026-01")},
          {"payload", Quoted(payload_text)},
          {"signature", Quoted(signature_hex)}};
}

}  // namespace vexo::testing_support
