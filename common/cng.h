// The CNG functions the launcher calls (SHA-256, the system-preferred random generator, ECDSA
// P-256 verification), resolved from the system folder's bcrypt.dll at first use.
//
// bcrypt.dll is not a known DLL, so the launcher never imports it (common/system_library.h).
// Every user takes the record from Cng() and turns its absence into its own failure: the
// payload check's message, the run id's message, the update's single refusal.
#pragma once

#include <windows.h>

#include <bcrypt.h>

namespace vexo {

struct CngFunctions {
  decltype(&::BCryptOpenAlgorithmProvider) open_algorithm_provider;
  decltype(&::BCryptCloseAlgorithmProvider) close_algorithm_provider;
  decltype(&::BCryptGetProperty) get_property;
  decltype(&::BCryptCreateHash) create_hash;
  decltype(&::BCryptHashData) hash_data;
  decltype(&::BCryptFinishHash) finish_hash;
  decltype(&::BCryptDestroyHash) destroy_hash;
  decltype(&::BCryptHash) hash;
  decltype(&::BCryptGenRandom) gen_random;
  decltype(&::BCryptImportKeyPair) import_key_pair;
  decltype(&::BCryptVerifySignature) verify_signature;
  decltype(&::BCryptDestroyKey) destroy_key;
};

// Every function of CngFunctions, or null when bcrypt.dll cannot be loaded from the system
// folder or lacks one of them. Loaded once and kept for the life of the process.
const CngFunctions* Cng() noexcept;

// Release functions for the CNG handle holders (common/handles.h). A handle exists only when
// Cng() gave the functions that made it.
void CloseCngAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept;
void DestroyCngHash(BCRYPT_HASH_HANDLE hash) noexcept;
void DestroyCngKey(BCRYPT_KEY_HANDLE key) noexcept;

}  // namespace vexo
