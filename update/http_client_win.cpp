// WinHTTP is not a Windows "known DLL": a winhttp.dll planted beside the launcher would be
// loaded into the elevated launcher if it were a static import. It is therefore loaded from
// the system folder only (common/system_library.h), and the few functions used are reached
// through one table of typed pointers, all in this file.
//
// WinHTTP's own time-outs do not bound a call: the receive time-out applies per read (a
// trickled body never times out), the wait for the response headers has its own time-out,
// the TLS handshake is bounded only per socket operation, and a deadline checked between calls
// cannot interrupt one that blocks. So the request runs in WinHTTP's asynchronous mode and this
// thread waits for each phase (connection, TLS and sending; the headers; each piece of the
// body) at most until the deadline; a phase still running then is abandoned by closing the
// request, which is how WinHTTP cancels an asynchronous request. Each time-out is also lowered
// to what is left, so WinHTTP itself gives up no later.
#include "update/http_client_win.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "common/handles.h"
#include "common/system_library.h"
#include "update/update_error.h"
#include "update/update_names.h"
#include "update/update_server.h"

namespace vexo {
namespace {

constexpr wchar_t kWinHttpLibrary[] = L"winhttp.dll";
constexpr wchar_t kGetMethod[] = L"GET";

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
  decltype(&::WinHttpSetStatusCallback) set_status_callback;
};

constexpr SystemExport<WinHttpFunctions> kWinHttpExports[] = {
    ExportInto<&WinHttpFunctions::open>("WinHttpOpen"),
    ExportInto<&WinHttpFunctions::set_timeouts>("WinHttpSetTimeouts"),
    ExportInto<&WinHttpFunctions::connect>("WinHttpConnect"),
    ExportInto<&WinHttpFunctions::open_request>("WinHttpOpenRequest"),
    ExportInto<&WinHttpFunctions::set_option>("WinHttpSetOption"),
    ExportInto<&WinHttpFunctions::send_request>("WinHttpSendRequest"),
    ExportInto<&WinHttpFunctions::receive_response>("WinHttpReceiveResponse"),
    ExportInto<&WinHttpFunctions::query_headers>("WinHttpQueryHeaders"),
    ExportInto<&WinHttpFunctions::query_data_available>("WinHttpQueryDataAvailable"),
    ExportInto<&WinHttpFunctions::read_data>("WinHttpReadData"),
    ExportInto<&WinHttpFunctions::close_handle>("WinHttpCloseHandle"),
    ExportInto<&WinHttpFunctions::set_status_callback>("WinHttpSetStatusCallback"),
};

// Loaded once and pinned for the rest of the process: WinHTTP's own threads may still be
// finishing an abandoned request inside winhttp.dll after a call has returned, even while the
// process runs its exit, so no FreeLibrary (not even the one of this static's holder at exit)
// may unload it. Null when winhttp.dll or one of the exports is missing from the system folder,
// or the module could not be pinned.
const WinHttpFunctions* LoadedWinHttp() noexcept {
  static const std::optional<SystemFunctions<WinHttpFunctions>> loaded =
      LoadSystemFunctions<WinHttpFunctions>(kWinHttpLibrary, kWinHttpExports);
  static const bool pinned = loaded && PinModuleForProcessLife(loaded->module.get());
  return pinned ? &loaded->functions : nullptr;
}

const WinHttpFunctions& WinHttp() {
  const WinHttpFunctions* functions = LoadedWinHttp();
  RequireUpdate(functions != nullptr);
  return *functions;
}

// A handle exists only when the functions that made it were loaded.
void CloseInternetHandle(HINTERNET handle) noexcept {
  if (const WinHttpFunctions* functions = LoadedWinHttp()) {
    functions->close_handle(handle);
  }
}
using UniqueInternetHandle = UniqueResource<NullableTraits<HINTERNET, &CloseInternetHandle>>;

constexpr DWORD kNotifications =
    WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;

// What WinHTTP's threads report about the request. It lives on the heap and is deleted by the
// request's last notification (its handle closing), so a notification that comes after this
// thread gave up never touches freed memory; the read buffer lives here for the same reason.
struct RequestProgress {
  UniqueHandle completed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  DWORD status = 0;  // the last completion
  DWORD bytes = 0;   // available or read
  std::array<std::uint8_t, kReadChunkBytes> buffer{};
};

void CALLBACK
OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
  auto* progress = reinterpret_cast<RequestProgress*>(context);
  if (progress == nullptr) {
    return;
  }
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      delete progress;
      return;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      progress->bytes = *static_cast<const DWORD*>(information);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      progress->bytes = length;
      break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      break;
    default:
      return;
  }
  progress->status = status;
  ::SetEvent(progress->completed.get());
}

// Hands `progress` to the request: from here on its handle's closing deletes it.
RequestProgress& AttachProgress(HINTERNET request, std::unique_ptr<RequestProgress> progress) {
  RequireUpdate(progress->completed.valid());
  RequireUpdate(WinHttp().set_status_callback(request, OnRequestStatus, kNotifications, 0) !=
                WINHTTP_INVALID_STATUS_CALLBACK);
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(progress.get());
  RequireUpdate(WinHttp().set_option(request, WINHTTP_OPTION_CONTEXT_VALUE, &context,
                                     sizeof(context)) != FALSE);
  return *progress.release();
}

// The call's deadline, counted on the 64-bit tick count from the start of the call.
class Deadline {
 public:
  explicit Deadline(std::uint64_t body_limit)
      : end_(::GetTickCount64() +
             (body_limit <= kShortDeadlineBodyLimit ? kShortDeadlineMs : kLongDeadlineMs)) {}

  // Milliseconds left, at least 1 (WinHTTP reads 0 as "no limit"); raises once it passed.
  DWORD Left() const {
    const std::uint64_t now = ::GetTickCount64();
    RequireUpdate(now < end_);
    return static_cast<DWORD>(end_ - now);
  }
  DWORD Cap(std::uint32_t timeout_ms) const { return std::min<DWORD>(timeout_ms, Left()); }

 private:
  std::uint64_t end_;
};

// Waits for the completion of the operation just started, at most until the deadline, and
// requires it to be `expected`.
void AwaitCompletion(const RequestProgress& progress, DWORD expected, const Deadline& deadline) {
  RequireUpdate(::WaitForSingleObject(progress.completed.get(), deadline.Left()) == WAIT_OBJECT_0);
  RequireUpdate(progress.status == expected);
}

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  RequireUpdate(WinHttp().set_option(handle, option, &value, sizeof(value)) != FALSE);
}

// Resolve, connect, TLS and sending: each time-out at most what is left. The header wait is
// capped here too: Wine already waits for the response headers inside WinHttpSendRequest.
void CapConnectionTimeouts(HINTERNET request, const Deadline& deadline) {
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, deadline.Left());
  RequireUpdate(WinHttp().set_timeouts(request, static_cast<int>(deadline.Cap(kResolveTimeoutMs)),
                                       static_cast<int>(deadline.Cap(kConnectTimeoutMs)),
                                       static_cast<int>(deadline.Cap(kSendTimeoutMs)),
                                       static_cast<int>(deadline.Cap(kReceiveTimeoutMs))) != FALSE);
}

void SendRequest(HINTERNET request,
                 RequestProgress& progress,
                 std::wstring_view header_text,
                 const Deadline& deadline) {
  CapConnectionTimeouts(request, deadline);
  const wchar_t* headers = header_text.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : header_text.data();
  const DWORD header_length = static_cast<DWORD>(header_text.size());
  RequireUpdate(header_text.size() == header_length);
  RequireUpdate(WinHttp().send_request(request, headers, header_length, WINHTTP_NO_REQUEST_DATA, 0,
                                       0, reinterpret_cast<DWORD_PTR>(&progress)) != FALSE);
  AwaitCompletion(progress, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, deadline);
}

// The wait for the whole header block, limited to what is left.
void ReceiveResponse(HINTERNET request, RequestProgress& progress, const Deadline& deadline) {
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, deadline.Left());
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, deadline.Cap(kReceiveTimeoutMs));
  RequireUpdate(WinHttp().receive_response(request, nullptr) != FALSE);
  AwaitCompletion(progress, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, deadline);
}

void RequireStatusOk(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  RequireUpdate(WinHttp().query_headers(request,
                                        WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                        WINHTTP_NO_HEADER_INDEX) != FALSE);
  RequireUpdate(status == HTTP_STATUS_OK);
}

// Waits for the next piece of the body and reads it, each at most until the deadline. Never
// lets the body pass `body_limit`. False at the end of the body.
bool ReadNextChunk(HINTERNET request,
                   RequestProgress& progress,
                   std::uint64_t body_limit,
                   const Deadline& deadline,
                   std::vector<std::uint8_t>& body) {
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, deadline.Cap(kReceiveTimeoutMs));
  RequireUpdate(WinHttp().query_data_available(request, nullptr) != FALSE);
  AwaitCompletion(progress, WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, deadline);
  if (progress.bytes == 0) {
    return false;
  }
  const DWORD wanted = std::min<DWORD>(progress.bytes, kReadChunkBytes);
  RequireUpdate(body.size() + wanted <= body_limit);
  RequireUpdate(WinHttp().read_data(request, progress.buffer.data(), wanted, nullptr) != FALSE);
  AwaitCompletion(progress, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, deadline);
  RequireUpdate(progress.bytes <= wanted);
  body.insert(body.end(), progress.buffer.begin(), progress.buffer.begin() + progress.bytes);
  deadline.Left();
  return progress.bytes != 0;
}

}  // namespace

std::vector<std::uint8_t> UpdateHttpGet(std::string_view path,
                                        std::uint64_t body_limit,
                                        std::wstring_view header_text) {
  const Deadline deadline(body_limit);
  RequireUpdate(!path.empty() && path.front() == '/');
  // Closed in reverse order: request, connection, session.
  const UniqueInternetHandle session(
      WinHttp().open(kUpdateUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
  RequireUpdate(session.valid());
  RequireUpdate(WinHttp().set_timeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs,
                                       kSendTimeoutMs, kReceiveTimeoutMs) != FALSE);
  const UniqueInternetHandle connection(
      WinHttp().connect(session.get(), kUpdateServerHost, kUpdateServerPort, 0));
  RequireUpdate(connection.valid());
  const std::wstring wide_path = WidenAscii(path);
  auto new_progress = std::make_unique<RequestProgress>();
  const UniqueInternetHandle request(WinHttp().open_request(
      connection.get(), kGetMethod, wide_path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  RequireUpdate(request.valid());
  RequestProgress& progress = AttachProgress(request.get(), std::move(new_progress));
  SetDwordOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);

  SendRequest(request.get(), progress, header_text, deadline);
  ReceiveResponse(request.get(), progress, deadline);
  RequireStatusOk(request.get());
  std::vector<std::uint8_t> body;
  while (ReadNextChunk(request.get(), progress, body_limit, deadline, body)) {
  }
  return body;
}

}  // namespace vexo
