// The catalogue compiled into this launcher: its eight payload resources with the digests
// computed from the very files the build embedded.
#pragma once

#include <array>

#include "payload/catalogue.h"

namespace vexo {

// Catalogue order is deployment order and the order of removal after a failed deployment.
extern const std::array<PayloadEntry, kPayloadFileCount> kPayloadCatalogue;

// VerifyPayloadCatalogue of the compiled-in catalogue.
void VerifyPayloadCatalogue();

}  // namespace vexo
