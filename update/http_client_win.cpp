// WinHTTP is not a Windows "known DLL": a winhttp.dll planted beside the launcher would be
// loaded into the elevated launcher if it were a static import. It is therefore loaded from
// the system folder only, and the few functions used are reached through one table of typed
// pointers, all in this file.
//
// WinHTTP's own time-outs do not bound a call: the receive time-out applies per read (a
// trickled body never times out), the wait for the response headers has its own time-out,
// and a deadline checked between calls cannot interrupt one that blocks. So before every
// blocking phase each time-out is lowered to what is left of the deadline, and the deadline is
// checked again after it.
#include "update/http_client_win.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <string>

#include "common/handles.h"
#include "update/update_error.h"
#include "update/update_names.h"
#include "update/update_server.h"

namespace vexo {
namespace {

constexpr wchar_t kWinHttpLibrary[] = L"winhttp.dll";
constexpr wchar_t kGetMethod[] = L"GET";

void Require(bool condition) {
  if (!condition) {
    ThrowUpdateValidationFailed();
  }
}

struct WinHttpFunctions {
  decltype(&::WinHttpOpen) open;
  decltype(&::WinHttpSetTimeouts) set_timeouts;
  decltype(&::WinHttpConnect) connect;
  decltype(&::WinHttpOpenRequest) open_request;
  decltype(&::WinHttpSetOption) set_option;
  decltype(&::WinHttpSendRequest) send_request;
  decltype(&::WinHttpReceiveResponse) receive_response;
  decltype(&::WinHttpQueryHeaders) query_headers;
  decltype(&::WinHttpQueryDataAvailable) query_data_available;
  decltype(&::WinHttpReadData) read_data;
  decltype(&::WinHttpCloseHandle) close_handle;
};

// The loaded table. It is filled before the first handle is opened and stays valid while
// the module holder of the call lives, which outlives every handle of the call.
WinHttpFunctions g_winhttp{};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function) {
  const FARPROC address = ::GetProcAddress(module, name);
  Require(address != nullptr);
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

UniqueModule LoadWinHttp() {
  UniqueModule module(::LoadLibraryExW(kWinHttpLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  Require(module.valid());
  const HMODULE m = module.get();
  Resolve(m, "WinHttpOpen", g_winhttp.open);
  Resolve(m, "WinHttpSetTimeouts", g_winhttp.set_timeouts);
  Resolve(m, "WinHttpConnect", g_winhttp.connect);
  Resolve(m, "WinHttpOpenRequest", g_winhttp.open_request);
  Resolve(m, "WinHttpSetOption", g_winhttp.set_option);
  Resolve(m, "WinHttpSendRequest", g_winhttp.send_request);
  Resolve(m, "WinHttpReceiveResponse", g_winhttp.receive_response);
  Resolve(m, "WinHttpQueryHeaders", g_winhttp.query_headers);
  Resolve(m, "WinHttpQueryDataAvailable", g_winhttp.query_data_available);
  Resolve(m, "WinHttpReadData", g_winhttp.read_data);
  Resolve(m, "WinHttpCloseHandle", g_winhttp.close_handle);
  return module;
}

void CloseInternetHandle(HINTERNET handle) noexcept {
  g_winhttp.close_handle(handle);
}
using UniqueInternetHandle = UniqueResource<NullableTraits<HINTERNET, &CloseInternetHandle>>;

// The call's deadline, counted on the 64-bit tick count from the start of the call.
class Deadline {
 public:
  explicit Deadline(std::uint64_t body_limit)
      : end_(::GetTickCount64() +
             (body_limit <= kShortDeadlineBodyLimit ? kShortDeadlineMs : kLongDeadlineMs)) {}

  // Milliseconds left, at least 1 (WinHTTP reads 0 as "no limit"); raises once it passed.
  DWORD Left() const {
    const std::uint64_t now = ::GetTickCount64();
    Require(now < end_);
    return static_cast<DWORD>(end_ - now);
  }
  DWORD Cap(std::uint32_t timeout_ms) const { return std::min<DWORD>(timeout_ms, Left()); }

 private:
  std::uint64_t end_;
};

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  Require(g_winhttp.set_option(handle, option, &value, sizeof(value)) != FALSE);
}

// Resolve, connect, TLS and sending: each time-out at most what is left. The header wait is
// capped here too: Wine already waits for the response headers inside WinHttpSendRequest.
void CapConnectionTimeouts(HINTERNET request, const Deadline& deadline) {
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, deadline.Left());
  Require(g_winhttp.set_timeouts(request, static_cast<int>(deadline.Cap(kResolveTimeoutMs)),
                                 static_cast<int>(deadline.Cap(kConnectTimeoutMs)),
                                 static_cast<int>(deadline.Cap(kSendTimeoutMs)),
                                 static_cast<int>(deadline.Cap(kReceiveTimeoutMs))) != FALSE);
}

void SendRequest(HINTERNET request, std::wstring_view header_text, const Deadline& deadline) {
  CapConnectionTimeouts(request, deadline);
  const wchar_t* headers = header_text.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : header_text.data();
  const DWORD header_length = static_cast<DWORD>(header_text.size());
  Require(header_text.size() == header_length);
  Require(g_winhttp.send_request(request, headers, header_length, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                 0) != FALSE);
  deadline.Left();
}

// The wait for the whole header block, limited to what is left.
void ReceiveResponse(HINTERNET request, const Deadline& deadline) {
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, deadline.Left());
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, deadline.Cap(kReceiveTimeoutMs));
  Require(g_winhttp.receive_response(request, nullptr) != FALSE);
  deadline.Left();
}

void RequireStatusOk(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  Require(g_winhttp.query_headers(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                  WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                  WINHTTP_NO_HEADER_INDEX) != FALSE);
  Require(status == HTTP_STATUS_OK);
}

// Waits for the next piece of the body (at most what is left) and reads it. Never lets the
// body pass `body_limit`. False at the end of the body.
bool ReadNextChunk(HINTERNET request,
                   std::uint64_t body_limit,
                   const Deadline& deadline,
                   std::vector<std::uint8_t>& body) {
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, deadline.Cap(kReceiveTimeoutMs));
  DWORD available = 0;
  Require(g_winhttp.query_data_available(request, &available) != FALSE);
  deadline.Left();
  if (available == 0) {
    return false;
  }
  const DWORD wanted = std::min<DWORD>(available, kReadChunkBytes);
  Require(body.size() + wanted <= body_limit);
  const std::size_t old_size = body.size();
  body.resize(old_size + wanted);
  DWORD read = 0;
  Require(g_winhttp.read_data(request, body.data() + old_size, wanted, &read) != FALSE);
  Require(read <= wanted);
  body.resize(old_size + read);
  deadline.Left();
  return read != 0;
}

}  // namespace

std::vector<std::uint8_t> UpdateHttpGet(std::string_view path,
                                        std::uint64_t body_limit,
                                        std::wstring_view header_text) {
  const Deadline deadline(body_limit);
  Require(!path.empty() && path.front() == '/');
  // Released in reverse: request, connection, session, then the module.
  const UniqueModule winhttp = LoadWinHttp();
  const UniqueInternetHandle session(
      g_winhttp.open(kUpdateUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                     WINHTTP_NO_PROXY_BYPASS, 0));
  Require(session.valid());
  Require(g_winhttp.set_timeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs,
                                 kSendTimeoutMs, kReceiveTimeoutMs) != FALSE);
  const UniqueInternetHandle connection(
      g_winhttp.connect(session.get(), kUpdateServerHost, kUpdateServerPort, 0));
  Require(connection.valid());
  const std::wstring wide_path = WidenAscii(path);
  const UniqueInternetHandle request(g_winhttp.open_request(
      connection.get(), kGetMethod, wide_path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  Require(request.valid());
  SetDwordOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);

  SendRequest(request.get(), header_text, deadline);
  ReceiveResponse(request.get(), deadline);
  RequireStatusOk(request.get());
  std::vector<std::uint8_t> body;
  while (ReadNextChunk(request.get(), body_limit, deadline, body)) {
  }
  return body;
}

}  // namespace vexo
