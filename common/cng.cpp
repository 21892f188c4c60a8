#include "common/cng.h"

#include <optional>

#include "common/system_library.h"

namespace vexo {
namespace {

constexpr wchar_t kCngLibrary[] = L"bcrypt.dll";

constexpr SystemExport<CngFunctions> kCngExports[] = {
    ExportInto<&CngFunctions::open_algorithm_provider>("BCryptOpenAlgorithmProvider"),
    ExportInto<&CngFunctions::close_algorithm_provider>("BCryptCloseAlgorithmProvider"),
    ExportInto<&CngFunctions::get_property>("BCryptGetProperty"),
    ExportInto<&CngFunctions::create_hash>("BCryptCreateHash"),
    ExportInto<&CngFunctions::hash_data>("BCryptHashData"),
    ExportInto<&CngFunctions::finish_hash>("BCryptFinishHash"),
    ExportInto<&CngFunctions::destroy_hash>("BCryptDestroyHash"),
    ExportInto<&CngFunctions::hash>("BCryptHash"),
    ExportInto<&CngFunctions::gen_random>("BCryptGenRandom"),
    ExportInto<&CngFunctions::import_key_pair>("BCryptImportKeyPair"),
    ExportInto<&CngFunctions::verify_signature>("BCryptVerifySignature"),
    ExportInto<&CngFunctions::destroy_key>("BCryptDestroyKey"),
};

}  // namespace

const CngFunctions* Cng() noexcept {
  static const std::optional<SystemFunctions<CngFunctions>> loaded =
      LoadSystemFunctions<CngFunctions>(kCngLibrary, kCngExports);
  return loaded ? &loaded->functions : nullptr;
}

void CloseCngAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept {
  if (const CngFunctions* cng = Cng()) {
    cng->close_algorithm_provider(algorithm, 0);
  }
}

void DestroyCngHash(BCRYPT_HASH_HANDLE hash) noexcept {
  if (const CngFunctions* cng = Cng()) {
    cng->destroy_hash(hash);
  }
}

void DestroyCngKey(BCRYPT_KEY_HANDLE key) noexcept {
  if (const CngFunctions* cng = Cng()) {
    cng->destroy_key(key);
  }
}

}  // namespace vexo
