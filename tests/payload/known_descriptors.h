// Security descriptors the folder rules meet on a real PC, as SDDL.
#pragma once

#define TI_SID L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
// The run folder's DACL as the launcher writes it.
#define RUN_DACL L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"

namespace vexo {

// The descriptor Windows gives C:\Program Files: owned by TrustedInstaller, protected, with
// inherit-only entries for what gets created inside.
inline constexpr wchar_t kProgramFilesSddl[] =
    L"O:" TI_SID L"G:" TI_SID L"D:PAI(A;;FA;;;" TI_SID L")(A;CIIO;GA;;;" TI_SID
    L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
    L"(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)";

}  // namespace vexo
