#include "tools/vexo-update/p256_signing.h"

#include <cstring>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include "tools/vexo-update/tool_error.h"

namespace vexo::tool {
namespace {

constexpr char kP256GroupName[] = "prime256v1";
constexpr std::size_t kCoordinateBytes = 32;
constexpr std::uint8_t kUncompressedPoint = 0x04;
// "ECS1" (BCRYPT_ECDSA_PUBLIC_P256_MAGIC) and the key length 32, both little-endian.
constexpr std::uint8_t kBlobHeader[8] = {0x45, 0x43, 0x53, 0x31, 0x20, 0x00, 0x00, 0x00};

struct BioDeleter {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
struct MdContextDeleter {
  void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};
struct PkeyContextDeleter {
  void operator()(EVP_PKEY_CTX* context) const noexcept { EVP_PKEY_CTX_free(context); }
};
struct EcdsaSigDeleter {
  void operator()(ECDSA_SIG* sig) const noexcept { ECDSA_SIG_free(sig); }
};
struct ParamBuildDeleter {
  void operator()(OSSL_PARAM_BLD* build) const noexcept { OSSL_PARAM_BLD_free(build); }
};
struct ParamDeleter {
  void operator()(OSSL_PARAM* params) const noexcept { OSSL_PARAM_free(params); }
};

[[noreturn]] void ThrowOpenSsl(const std::string& what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  std::string text = what;
  if (code != 0) {
    char detail[256] = {};
    ERR_error_string_n(code, detail, sizeof detail);
    text += " (" + std::string(detail) + ")";
  }
  throw ToolError(text);
}

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") == 1 &&
         EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
         std::strcmp(group, kP256GroupName) == 0;
}

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

UniquePkey GenerateP256Key() {
  UniquePkey key(EVP_EC_gen("P-256"));
  if (!key) {
    ThrowOpenSsl("could not generate a P-256 key");
  }
  return key;
}

std::string PrivateKeyPem(EVP_PKEY* key) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_secmem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    ThrowOpenSsl("could not encode the private key");
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  if (length <= 0 || data == nullptr) {
    ThrowOpenSsl("could not encode the private key");
  }
  return std::string(data, static_cast<std::size_t>(length));
}

UniquePkey LoadP256PrivateKey(std::string_view pem, const std::string& source_name) {
  if (pem.size() > static_cast<std::size_t>(INT32_MAX)) {
    throw ToolError(source_name + " is too large for a private key");
  }
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) {
    ThrowOpenSsl("out of memory");
  }
  UniquePkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    ThrowOpenSsl(source_name + " is not a PEM private key");
  }
  if (!IsP256(key.get())) {
    throw ToolError(source_name + " is not an ECDSA P-256 key");
  }
  return key;
}

std::array<std::uint8_t, kP256PublicBlobBytes> PublicKeyBlob(EVP_PKEY* key) {
  std::uint8_t point[1 + 2 * kCoordinateBytes] = {};
  std::size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) !=
          1 ||
      length != sizeof point || point[0] != kUncompressedPoint) {
    ThrowOpenSsl("could not read the public point of the key");
  }
  std::array<std::uint8_t, kP256PublicBlobBytes> blob{};
  std::memcpy(blob.data(), kBlobHeader, sizeof kBlobHeader);
  std::memcpy(blob.data() + sizeof kBlobHeader, point + 1, 2 * kCoordinateBytes);
  return blob;
}

UniquePkey PublicKeyFromBlob(std::span<const std::uint8_t> blob) {
  if (blob.size() != kP256PublicBlobBytes ||
      std::memcmp(blob.data(), kBlobHeader, sizeof kBlobHeader) != 0) {
    return nullptr;
  }
  std::uint8_t point[1 + 2 * kCoordinateBytes];
  point[0] = kUncompressedPoint;
  std::memcpy(point + 1, blob.data() + sizeof kBlobHeader, 2 * kCoordinateBytes);
  std::unique_ptr<OSSL_PARAM_BLD, ParamBuildDeleter> build(OSSL_PARAM_BLD_new());
  if (!build ||
      OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, kP256GroupName, 0) !=
          1 ||
      OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) !=
          1) {
    return nullptr;
  }
  std::unique_ptr<OSSL_PARAM, ParamDeleter> params(OSSL_PARAM_BLD_to_param(build.get()));
  std::unique_ptr<EVP_PKEY_CTX, PkeyContextDeleter> context(
      EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  return UniquePkey(key);
}

std::array<std::uint8_t, kP256SignatureBytes> SignP1363(EVP_PKEY* key, std::string_view bytes) {
  std::unique_ptr<EVP_MD_CTX, MdContextDeleter> context(EVP_MD_CTX_new());
  std::uint8_t der[128] = {};
  std::size_t der_length = sizeof der;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(context.get(), der, &der_length, Bytes(bytes), bytes.size()) != 1) {
    ThrowOpenSsl("could not sign");
  }
  const unsigned char* cursor = der;
  std::unique_ptr<ECDSA_SIG, EcdsaSigDeleter> sig(
      d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der_length)));
  if (!sig) {
    ThrowOpenSsl("could not decode the signature");
  }
  std::array<std::uint8_t, kP256SignatureBytes> p1363{};
  if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), p1363.data(), kCoordinateBytes) !=
          static_cast<int>(kCoordinateBytes) ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), p1363.data() + kCoordinateBytes,
                   kCoordinateBytes) != static_cast<int>(kCoordinateBytes)) {
    ThrowOpenSsl("could not convert the signature to r || s");
  }
  return p1363;
}

bool VerifyP1363(EVP_PKEY* key, std::span<const std::uint8_t> signature, std::string_view bytes) {
  if (key == nullptr || signature.size() != kP256SignatureBytes) {
    return false;
  }
  std::unique_ptr<ECDSA_SIG, EcdsaSigDeleter> sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), kCoordinateBytes, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + kCoordinateBytes, kCoordinateBytes, nullptr);
  if (!sig || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int der_length = i2d_ECDSA_SIG(sig.get(), &der);
  if (der_length <= 0) {
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, MdContextDeleter> context(EVP_MD_CTX_new());
  const bool verified =
      context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
      EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(der_length), Bytes(bytes),
                       bytes.size()) == 1;
  OPENSSL_free(der);
  ERR_clear_error();
  return verified;
}

std::array<std::uint8_t, 32> Sha256Of(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    ThrowOpenSsl("could not hash");
  }
  return digest;
}

}  // namespace vexo::tool
