#include "tools/vexo-update/commands.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "tools/vexo-update/p256_signing.h"
#include "tools/vexo-update/tool_error.h"
#include "tools/vexo-update/tool_files.h"
#include "update/executable_header.h"
#include "update/manifest.h"
#include "update/role.h"
#include "update/strict_json.h"
#include "update/version.h"

namespace vexo::tool {
namespace {

constexpr std::uint64_t kMaxPrivateKeyFileBytes = 64 * 1024;
constexpr std::uint64_t kSecondsPerDay = 86400;
constexpr std::uint64_t kDefaultValidDays = 30;
constexpr std::uint64_t kMaxValidDays = kMaxValiditySeconds / kSecondsPerDay;  // 180
constexpr char kManifestFolder[] = "api/program-updates/v1/manifest";
constexpr char kFilesFolder[] = "api/program-updates/v1/files";
// Where a rollout stages the next release's manifest, beside the current one; the update site
// serves it to a share of clients in place of the current one.
constexpr char kNextStageFolder[] = "next/";

// Keeps secret text out of freed memory.
class SecretText {
 public:
  explicit SecretText(std::string text) : text_(std::move(text)) {}
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  ~SecretText() { OPENSSL_cleanse(text_.data(), text_.size()); }
  const std::string& get() const noexcept { return text_; }

 private:
  std::string text_;
};

UniquePkey LoadSigningKey(const std::string& path) {
  std::vector<std::uint8_t> bytes = ReadFileLimited(path, kMaxPrivateKeyFileBytes, "private key");
  const SecretText pem(std::string(bytes.begin(), bytes.end()));
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return LoadP256PrivateKey(pem.get(), "private key " + path);
}

// Plain decimal digits, no sign, no leading zero, at most `limit`.
std::uint64_t ParseDecimal(const std::string& text, std::uint64_t limit, const std::string& what) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) {
    throw ToolError(what + " must be a decimal number without sign or leading zero, not \"" + text +
                    "\"");
  }
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      throw ToolError(what + " must be a decimal number without sign or leading zero, not \"" +
                      text + "\"");
    }
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (limit - digit) / 10) {
      throw ToolError(what + " must be at most " + std::to_string(limit) + ", not " + text);
    }
    value = value * 10 + digit;
  }
  return value;
}

// Why `image` is no x64 Windows program, or empty when it is one.
std::string ExecutableProblem(const std::vector<std::uint8_t>& image) {
  if (image.size() < kMinProgramBytes) {
    return "it is " + std::to_string(image.size()) + " bytes, below the minimum of " +
           std::to_string(kMinProgramBytes);
  }
  if (IsWindowsX64Executable(image)) {
    return "";
  }
  if (image[0] != 'M' || image[1] != 'Z') {
    return "it is not a Windows executable (no MZ header)";
  }
  const auto byte_at = [&image](std::uint64_t offset) { return std::uint32_t{image[offset]}; };
  const std::uint32_t pe =
      byte_at(60) | (byte_at(61) << 8) | (byte_at(62) << 16) | (byte_at(63) << 24);
  if (std::uint64_t{pe} + 112 >= image.size()) {
    return "its PE header lies outside the file";
  }
  const auto field = [&byte_at, pe](std::uint64_t offset) {
    return byte_at(pe + offset) | (byte_at(pe + offset + 1) << 8);
  };
  if (image[pe] != 'P' || image[pe + 1] != 'E' || image[pe + 2] != 0 || image[pe + 3] != 0) {
    return "it has no PE signature";
  }
  if (field(4) != 0x8664 || field(24) != 0x020B) {
    return "it is not a 64-bit x86-64 (PE32+) program";
  }
  if ((field(22) & 0x2000) != 0) {
    return "it is a DLL, not a program";
  }
  return "it is not marked as an executable image";
}

std::string SignedEnvelope(EVP_PKEY* key, const std::string& payload) {
  const auto signature = SignP1363(key, payload);
  nlohmann::json envelope = nlohmann::json::object();
  envelope["keyId"] = kUpdateKeyId;
  envelope["payload"] = payload;
  envelope["signature"] = ToLowerHex(signature);
  std::string text;
  try {
    text = envelope.dump() + "\n";
  } catch (const nlohmann::json::exception&) {
    throw ToolError("the payload is not valid UTF-8 text");
  }
  if (text.size() > kMaxManifestBytes) {
    throw ToolError("the signed manifest would be " + std::to_string(text.size()) +
                    " bytes; the launcher reads at most " + std::to_string(kMaxManifestBytes));
  }
  // Never hand out a signature that does not verify with the key's own public half.
  const auto blob = PublicKeyBlob(key);
  if (!VerifyP1363(PublicKeyFromBlob(blob).get(), signature, payload)) {
    throw ToolError("the signature does not verify with the key's public half");
  }
  return text;
}

std::uint64_t FileTimeNow() {
  return static_cast<std::uint64_t>(std::time(nullptr)) * kFileTimeTicksPerSecond +
         kUnixEpochAsFileTime;
}

bool CheckWithOpenSsl(std::span<const std::uint8_t> blob,
                      std::span<const std::uint8_t> signature,
                      std::string_view bytes) {
  return VerifyP1363(PublicKeyFromBlob(blob).get(), signature, bytes);
}

}  // namespace

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {"keygen",
       "make a new P-256 update signing key pair",
       "  --private-key FILE  where to create the private key (PEM, mode 0600, must not exist)\n"
       "  --public-key FILE   where to create the public key: 144 hex digits, the CNG\n"
       "                      ECCPUBLICBLOB to build the launcher with (VEXO_UPDATE_PUBLIC_KEY)\n",
       {"--private-key", "--public-key"},
       {},
       RunKeygen},
      {"sign",
       "sign a manifest payload into the {keyId, payload, signature} envelope",
       "  --private-key FILE  the P-256 signing key (PEM)\n"
       "  --payload FILE      the payload document; its bytes are signed exactly as they are\n"
       "  --out FILE          where to write the signed manifest (replaced if it exists)\n",
       {"--private-key", "--payload", "--out"},
       {},
       RunSign},
      {"publish",
       "lay out a signed manifest and a program file as the update server serves them",
       "  --private-key FILE  the P-256 signing key (PEM)\n"
       "  --program FILE      the new program: an x64 Windows executable (not a DLL) of\n"
       "                      65536 to 67108864 bytes\n"
       "  --version X.Y.Z     its version (numbers of up to five digits, no leading zeros)\n"
       "  --sequence N        manifest sequence number, below 2^53\n"
       "  --out DIR           server root; writes DIR/api/program-updates/v1/manifest/<role>\n"
       "                      and DIR/api/program-updates/v1/files/<sha256>.exe\n"
       "  --role ROLE         host (default), viewer, server, manager or collector\n"
       "  --valid-days N      days until the manifest expires, 1 to 180 (default 30)\n"
       "  --stage STAGE       current (default): the manifest every client gets; next: the\n"
       "                      next release's, written to DIR/next/api/program-updates/v1/\n"
       "                      manifest/<role> beside the current one, which a rollout serves\n"
       "                      to a share of clients (docs/serving-updates.md)\n",
       {"--private-key", "--program", "--version", "--sequence", "--out"},
       {"--role", "--valid-days", "--stage"},
       RunPublish},
  };
  return commands;
}

int RunKeygen(const std::map<std::string, std::string>& options) {
  const std::string& private_path = options.at("--private-key");
  const std::string& public_path = options.at("--public-key");
  if (private_path == public_path) {
    throw ToolError("--private-key and --public-key must name different files");
  }
  for (const std::string& path : {private_path, public_path}) {
    if (PathExists(path)) {
      throw ToolError(path + " already exists; keys are never overwritten");
    }
  }
  const UniquePkey key = GenerateP256Key();
  const std::string public_hex = ToLowerHex(PublicKeyBlob(key.get()));
  const SecretText pem(PrivateKeyPem(key.get()));
  WriteNewFile(private_path, pem.get(), 0600, "private key");
  WriteNewFile(public_path, public_hex + "\n", 0644, "public key");
  std::cout << public_hex << "\n";
  return 0;
}

int RunSign(const std::map<std::string, std::string>& options) {
  const UniquePkey key = LoadSigningKey(options.at("--private-key"));
  const std::vector<std::uint8_t> payload =
      ReadFileLimited(options.at("--payload"), kMaxSignedPayloadBytes, "payload");
  const std::string text = SignedEnvelope(key.get(), std::string(payload.begin(), payload.end()));
  ReplaceFile(options.at("--out"), text, "signed manifest");
  return 0;
}

int RunPublish(const std::map<std::string, std::string>& options) {
  const std::string role = options.count("--role") != 0 ? options.at("--role") : kHostRole;
  if (FindRole(role) == nullptr) {
    throw ToolError("unknown role \"" + role +
                    "\"; roles are host, viewer, server, manager and collector");
  }
  const std::string& version = options.at("--version");
  try {
    ParseVersion(version);
  } catch (const std::exception&) {
    throw ToolError(
        "--version must be X.Y.Z with numbers of one to five digits and no "
        "leading zeros, not \"" +
        version + "\"");
  }
  const std::uint64_t sequence =
      ParseDecimal(options.at("--sequence"), kSequenceLimit - 1, "--sequence");
  const std::uint64_t valid_days =
      options.count("--valid-days") != 0
          ? ParseDecimal(options.at("--valid-days"), kMaxValidDays, "--valid-days")
          : kDefaultValidDays;
  if (valid_days == 0) {
    throw ToolError("--valid-days must be at least 1");
  }
  const std::string stage = options.count("--stage") != 0 ? options.at("--stage") : "current";
  if (stage != "current" && stage != "next") {
    throw ToolError("--stage must be current or next, not \"" + stage + "\"");
  }
  const UniquePkey key = LoadSigningKey(options.at("--private-key"));

  const std::string& program_path = options.at("--program");
  const std::vector<std::uint8_t> program =
      ReadFileLimited(program_path, kMaxProgramBytes, "program");
  if (const std::string problem = ExecutableProblem(program); !problem.empty()) {
    throw ToolError("program " + program_path + " cannot be published: " + problem);
  }
  const std::string sha256 = ToLowerHex(Sha256Of(program));

  const std::uint64_t now = UnixSecondsFromFileTime(FileTimeNow());
  nlohmann::json payload = nlohmann::json::object();
  payload["schema"] = kManifestSchema;
  payload["brand"] = kManifestBrand;
  payload["role"] = role;
  payload["platform"] = kManifestPlatform;
  payload["channel"] = kManifestChannel;
  payload["issuedAt"] = now;
  payload["expiresAt"] = now + valid_days * kSecondsPerDay;
  payload["version"] = version;
  payload["sequence"] = sequence;
  payload["file"] = {{"sha256", sha256},
                     {"bytes", static_cast<std::uint64_t>(program.size())},
                     {"path", ProgramFileRequestPath(sha256)}};
  const std::string manifest = SignedEnvelope(key.get(), payload.dump());

  // What a launcher of this role, at this version and sequence, will accept.
  const std::string public_key_hex = ToLowerHex(PublicKeyBlob(key.get()));
  const ManifestTrust trust{public_key_hex, CheckWithOpenSsl, FileTimeNow};
  const VerifiedManifest verified =
      VerifyUpdateManifestWith(trust, manifest, role, version, sequence);
  if (verified.sha256 != sha256 || verified.bytes != program.size()) {
    throw ToolError("the manifest does not describe the program");
  }

  const std::string out = options.at("--out");
  const std::string files_folder = out + "/" + kFilesFolder;
  const std::string manifest_folder =
      out + "/" + (stage == "next" ? kNextStageFolder : "") + kManifestFolder;
  MakeFolders(files_folder);
  MakeFolders(manifest_folder);
  // The program first, so the manifest never names a file the server lacks.
  const std::string file_path = files_folder + "/" + sha256 + ".exe";
  if (PathExists(file_path)) {
    const auto existing = ReadFileLimited(file_path, kMaxProgramBytes, "published program");
    if (existing != program) {
      throw ToolError(file_path + " exists with other content");
    }
  } else {
    ReplaceFile(file_path,
                std::string_view(reinterpret_cast<const char*>(program.data()), program.size()),
                "program file");
  }
  ReplaceFile(manifest_folder + "/" + role, manifest, "manifest");
  std::cout << "published " << role << " " << version << " sequence " << sequence << " as the "
            << stage << " release: " << sha256 << " (" << program.size() << " bytes), expires in "
            << valid_days << " days\n";
  return 0;
}

}  // namespace vexo::tool
