// Names that identify the product to the customer and to other processes of the session.
#pragma once

namespace vexo::product {

// Class of the Host's top-level window. A window of this class means a Host is running in the
// session; it is found with FindWindowW by class alone.
inline constexpr wchar_t kHostWindowClass[] = L"vexoNativeHost";

// Caption of every message box the launcher shows.
inline constexpr wchar_t kProductTitle[] = L"벡소링크 원격지원";

// The Host program's file name at the root of a run folder.
inline constexpr wchar_t kHostFileName[] = L"Vexo-Host.exe";

// The Host's switches: the preparation run registers the run's broker service, and the
// service control manager starts the Host as that service.
inline constexpr wchar_t kHostInstallSwitch[] = L"--uac-install";
inline constexpr wchar_t kHostServiceSwitch[] = L"--uac-service";

// The environment variable that carries the stand-in Host's test knobs from a test through the
// launcher to the Host; read and handed on in the test flavours only (docs/host-contract.md).
inline constexpr wchar_t kHostTestKnobVariable[] = L"VEXO_DEMO_HOST_TEST";

}  // namespace vexo::product
