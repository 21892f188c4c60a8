// The seam between the startup check and the network: one HTTPS GET of a path on the update
// server. The check takes the function, so its logic does not depend on WinHTTP; the
// launcher passes UpdateHttpGet (http_client_win.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// GET `path` (ASCII, starting with "/") with `header_text` as extra request headers (none
// when empty); the body, at most `body_limit` bytes. Every failure raises
// "update_validation_failed".
using UpdateFetch = std::function<std::vector<std::uint8_t>(std::string_view path,
                                                            std::uint64_t body_limit,
                                                            std::wstring_view header_text)>;

// Extra request headers for both requests of a check (for example credentials of a managed
// install); called once per check. The launcher has none.
using UpdateHeaderProvider = std::function<std::wstring()>;

}  // namespace vexo
