// The local update site of the Windows runner (see update_site.h).
#include "tools/wine-bench/update_site.h"

#include <winsock2.h>

#include <http.h>
#include <ncrypt.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "common/unique_resource.h"
#include "tools/wine-bench/wine_driver.h"

namespace vexo::test {
namespace {

constexpr HTTPAPI_VERSION kHttpApiVersion = HTTPAPI_VERSION_2;
constexpr ULONG kHttpApiUse = HTTP_INITIALIZE_CONFIG | HTTP_INITIALIZE_SERVER;
constexpr USHORT kHttpsPort = 443;
constexpr wchar_t kPersonalStore[] = L"MY";
constexpr wchar_t kRootStore[] = L"Root";
// The machine keys of the two certificates, by container name.
constexpr wchar_t kTrustedKeyName[] = L"vexo-runner-update-site-trusted";
constexpr wchar_t kOtherKeyName[] = L"vexo-runner-update-site-other";
constexpr DWORD kKeyBits = 2048;
constexpr std::uint64_t kFileTimeTicksPerHour = 36'000'000'000;
// The application id http.sys records with the site's binding, by which a binding left by an
// ended run is told from any other: {5f1f6b0e-3c2a-4c8e-9a51-7d2b6e0c4a11}.
constexpr GUID kSiteBindingId = {0x5f1f6b0e,
                                 0x3c2a,
                                 0x4c8e,
                                 {0x9a, 0x51, 0x7d, 0x2b, 0x6e, 0x0c, 0x4a, 0x11}};
constexpr std::size_t kRequestBufferWords = 8192;  // 64 KiB, aligned as HTTP_REQUEST needs
constexpr DWORD kTrickleIntervalMs = 1000;

// HTTP Server API results are Windows error codes, key storage results HRESULT-like statuses.
void CheckStatus(const char* what, ULONG status) {
  if (status != NO_ERROR) {
    ThrowSupportError(what, status);
  }
}

void CheckKeyStatus(const char* what, SECURITY_STATUS status) {
  if (status != ERROR_SUCCESS) {
    ThrowSupportError(what, static_cast<std::uint32_t>(status));
  }
}

// ---- Holders --------------------------------------------------------------------------------

template <auto CloseFunction>
struct HttpIdTraits {
  using Type = HTTP_OPAQUE_ID;
  static inline const Type kNone = 0;
  static bool IsValid(Type value) noexcept { return value != 0; }
  static void Close(Type value) noexcept { CloseFunction(value); }
};
using UniqueServerSession = UniqueResource<HttpIdTraits<&::HttpCloseServerSession>>;
using UniqueUrlGroup = UniqueResource<HttpIdTraits<&::HttpCloseUrlGroup>>;
using UniqueRequestQueue = UniqueResource<NullableTraits<HANDLE, &::HttpCloseRequestQueue>>;

struct KeyStorageTraits {
  using Type = NCRYPT_PROV_HANDLE;
  static inline const Type kNone = 0;
  static bool IsValid(Type value) noexcept { return value != 0; }
  static void Close(Type value) noexcept { ::NCryptFreeObject(value); }
};
using UniqueKeyStorage = UniqueResource<KeyStorageTraits>;

// A persisted key: releasing it deletes it from the machine.
struct PersistedKeyTraits {
  using Type = NCRYPT_KEY_HANDLE;
  static inline const Type kNone = 0;
  static bool IsValid(Type value) noexcept { return value != 0; }
  static void Close(Type value) noexcept { ::NCryptDeleteKey(value, 0); }
};
using UniquePersistedKey = UniqueResource<PersistedKeyTraits>;

void CloseStore(HCERTSTORE store) noexcept {
  ::CertCloseStore(store, 0);
}
using UniqueStore = UniqueResource<NullableTraits<HCERTSTORE, &CloseStore>>;
using UniqueCertificate =
    UniqueResource<NullableTraits<PCCERT_CONTEXT, &::CertFreeCertificateContext>>;
// A certificate's entry in a store of the machine: releasing it removes the entry.
using UniqueStoreEntry =
    UniqueResource<NullableTraits<PCCERT_CONTEXT, &::CertDeleteCertificateFromStore>>;

// ---- The hosts file -------------------------------------------------------------------------

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    ThrowSupportError("cannot read " + path.string(), 0);
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

std::filesystem::path HostsFilePath() {
  wchar_t system[MAX_PATH] = {};
  if (::GetSystemDirectoryW(system, MAX_PATH) == 0) {
    ThrowSupportError("GetSystemDirectoryW", ::GetLastError());
  }
  return std::filesystem::path(system) / L"drivers" / L"etc" / L"hosts";
}

// The host name mapped to 127.0.0.1 by a line of the hosts file; the file is given back as it
// was. (Rewritten in place, so it keeps its descriptor.)
class HostsLine {
 public:
  explicit HostsLine(const std::wstring& host)
      : path_(HostsFilePath()), original_(ReadWholeFile(path_)) {
    if (!WriteWholeFile(path_, original_ + "\r\n127.0.0.1 " + ToUtf8(host) + "\r\n")) {
      ThrowSupportError("cannot write " + path_.string(), 0);
    }
  }
  HostsLine(const HostsLine&) = delete;
  HostsLine& operator=(const HostsLine&) = delete;
  ~HostsLine() { WriteWholeFile(path_, original_); }

 private:
  std::filesystem::path path_;
  std::string original_;
};

// ---- Certificates ---------------------------------------------------------------------------

UniqueStore OpenMachineStore(const wchar_t* name) {
  UniqueStore store(
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, name));
  if (!store) {
    ThrowSupportError("CertOpenStore " + ToUtf8(name), ::GetLastError());
  }
  return store;
}

// Removes the certificates of the machine's store `name` whose subject names `host`: a run that
// was ended before its holders could go leaves them.
void RemoveCertificatesFor(const wchar_t* name, const std::wstring& host) {
  const UniqueStore store = OpenMachineStore(name);
  while (PCCERT_CONTEXT left = ::CertFindCertificateInStore(
             store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, host.c_str(), nullptr)) {
    if (!::CertDeleteCertificateFromStore(left)) {
      ThrowSupportError("CertDeleteCertificateFromStore", ::GetLastError());
    }
  }
}

UniqueStoreEntry AddToMachineStore(const wchar_t* name, PCCERT_CONTEXT certificate) {
  const UniqueStore store = OpenMachineStore(name);
  PCCERT_CONTEXT added = nullptr;
  if (!::CertAddCertificateContextToStore(store.get(), certificate, CERT_STORE_ADD_REPLACE_EXISTING,
                                          &added)) {
    ThrowSupportError("CertAddCertificateContextToStore " + ToUtf8(name), ::GetLastError());
  }
  return UniqueStoreEntry(added);
}

std::vector<BYTE> EncodeObject(LPCSTR type, const void* value) {
  DWORD size = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, nullptr, &size)) {
    ThrowSupportError("CryptEncodeObjectEx", ::GetLastError());
  }
  std::vector<BYTE> bytes(size);
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, bytes.data(), &size)) {
    ThrowSupportError("CryptEncodeObjectEx", ::GetLastError());
  }
  bytes.resize(size);
  return bytes;
}

std::vector<BYTE> EncodeName(const std::wstring& x500) {
  DWORD size = 0;
  if (!::CertStrToNameW(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, nullptr,
                        &size, nullptr)) {
    ThrowSupportError("CertStrToNameW", ::GetLastError());
  }
  std::vector<BYTE> bytes(size);
  if (!::CertStrToNameW(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, bytes.data(),
                        &size, nullptr)) {
    ThrowSupportError("CertStrToNameW", ::GetLastError());
  }
  return bytes;
}

SYSTEMTIME HoursFromNow(std::int64_t hours) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks =
      ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) +
      static_cast<std::uint64_t>(hours * static_cast<std::int64_t>(kFileTimeTicksPerHour));
  const FILETIME moved{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME time{};
  ::FileTimeToSystemTime(&moved, &time);
  return time;
}

// A certificate for the host, self-signed with a new RSA key kept in the machine's software key
// storage (http.sys uses it from the system's side), in the personal store of the machine and,
// when trusted, among its trusted roots.
struct SiteCertificate {
  UniqueKeyStorage storage;
  UniquePersistedKey key;
  UniqueStoreEntry personal;
  UniqueStoreEntry root;
  std::array<BYTE, 20> thumbprint{};
};

void CreateMachineKey(SiteCertificate& made, const wchar_t* container) {
  CheckKeyStatus("NCryptOpenStorageProvider",
                 ::NCryptOpenStorageProvider(made.storage.put(), MS_KEY_STORAGE_PROVIDER, 0));
  CheckKeyStatus("NCryptCreatePersistedKey",
                 ::NCryptCreatePersistedKey(made.storage.get(), made.key.put(),
                                            BCRYPT_RSA_ALGORITHM, container, 0,
                                            NCRYPT_MACHINE_KEY_FLAG | NCRYPT_OVERWRITE_KEY_FLAG));
  DWORD bits = kKeyBits;
  CheckKeyStatus("NCryptSetProperty",
                 ::NCryptSetProperty(made.key.get(), NCRYPT_LENGTH_PROPERTY,
                                     reinterpret_cast<PBYTE>(&bits), sizeof(bits), 0));
  CheckKeyStatus("NCryptFinalizeKey", ::NCryptFinalizeKey(made.key.get(), 0));
}

std::unique_ptr<SiteCertificate> MakeSiteCertificate(const std::wstring& host,
                                                     const wchar_t* container,
                                                     bool trusted) {
  auto made = std::make_unique<SiteCertificate>();
  CreateMachineKey(*made, container);
  std::vector<BYTE> subject = EncodeName(L"CN=" + host);
  CERT_NAME_BLOB subject_blob{static_cast<DWORD>(subject.size()), subject.data()};
  CERT_ALT_NAME_ENTRY dns_name{};
  dns_name.dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
  dns_name.pwszDNSName = const_cast<LPWSTR>(host.c_str());
  CERT_ALT_NAME_INFO names{1, &dns_name};
  LPSTR server_auth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_ENHKEY_USAGE usage{1, &server_auth};
  std::vector<BYTE> encoded_names = EncodeObject(X509_ALTERNATE_NAME, &names);
  std::vector<BYTE> encoded_usage = EncodeObject(X509_ENHANCED_KEY_USAGE, &usage);
  CERT_EXTENSION extensions[] = {
      {const_cast<LPSTR>(szOID_SUBJECT_ALT_NAME2),
       FALSE,
       {static_cast<DWORD>(encoded_names.size()), encoded_names.data()}},
      {const_cast<LPSTR>(szOID_ENHANCED_KEY_USAGE),
       FALSE,
       {static_cast<DWORD>(encoded_usage.size()), encoded_usage.data()}},
  };
  CERT_EXTENSIONS all_extensions{2, extensions};
  CRYPT_KEY_PROV_INFO key_info{};
  key_info.pwszContainerName = const_cast<LPWSTR>(container);
  key_info.pwszProvName = const_cast<LPWSTR>(MS_KEY_STORAGE_PROVIDER);
  key_info.dwFlags = NCRYPT_MACHINE_KEY_FLAG;
  CRYPT_ALGORITHM_IDENTIFIER algorithm{const_cast<LPSTR>(szOID_RSA_SHA256RSA), {}};
  SYSTEMTIME valid_from = HoursFromNow(-1), valid_to = HoursFromNow(48);
  const UniqueCertificate certificate(
      ::CertCreateSelfSignCertificate(made->key.get(), &subject_blob, 0, &key_info, &algorithm,
                                      &valid_from, &valid_to, &all_extensions));
  if (!certificate) {
    ThrowSupportError("CertCreateSelfSignCertificate", ::GetLastError());
  }
  DWORD size = static_cast<DWORD>(made->thumbprint.size());
  if (!::CertGetCertificateContextProperty(certificate.get(), CERT_SHA1_HASH_PROP_ID,
                                           made->thumbprint.data(), &size)) {
    ThrowSupportError("CertGetCertificateContextProperty", ::GetLastError());
  }
  made->personal = AddToMachineStore(kPersonalStore, certificate.get());
  if (trusted) {
    made->root = AddToMachineStore(kRootStore, certificate.get());
  }
  return made;
}

// ---- http.sys -------------------------------------------------------------------------------

// The HTTP Server API initialised for configuration and serving while it lives.
class HttpApiUse {
 public:
  HttpApiUse() {
    CheckStatus("HttpInitialize", ::HttpInitialize(kHttpApiVersion, kHttpApiUse, nullptr));
  }
  HttpApiUse(const HttpApiUse&) = delete;
  HttpApiUse& operator=(const HttpApiUse&) = delete;
  ~HttpApiUse() { ::HttpTerminate(kHttpApiUse, nullptr); }
};

// http.sys's binding of one certificate to 127.0.0.1:443 while it lives. A binding of that
// address made by an ended run (the site's application id) is replaced; any other is refused.
class CertificateBinding {
 public:
  explicit CertificateBinding(const std::array<BYTE, 20>& thumbprint) : thumbprint_(thumbprint) {
    address_.sin_family = AF_INET;
    address_.sin_port = ::htons(kHttpsPort);
    address_.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    HTTP_SERVICE_CONFIG_SSL_SET binding = Describe();
    if (HeldByAnEndedRun()) {
      CheckStatus("HttpDeleteServiceConfiguration",
                  ::HttpDeleteServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &binding,
                                                   sizeof(binding), nullptr));
    }
    CheckStatus("HttpSetServiceConfiguration (127.0.0.1:443 is bound by something else?)",
                ::HttpSetServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &binding,
                                              sizeof(binding), nullptr));
  }
  CertificateBinding(const CertificateBinding&) = delete;
  CertificateBinding& operator=(const CertificateBinding&) = delete;
  ~CertificateBinding() {
    HTTP_SERVICE_CONFIG_SSL_SET binding = Describe();
    ::HttpDeleteServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &binding,
                                     sizeof(binding), nullptr);
  }

 private:
  HTTP_SERVICE_CONFIG_SSL_SET Describe() {
    HTTP_SERVICE_CONFIG_SSL_SET binding{};
    binding.KeyDesc.pIpPort = reinterpret_cast<PSOCKADDR>(&address_);
    binding.ParamDesc.SslHashLength = static_cast<ULONG>(thumbprint_.size());
    binding.ParamDesc.pSslHash = thumbprint_.data();
    binding.ParamDesc.AppId = kSiteBindingId;
    binding.ParamDesc.pSslCertStoreName = const_cast<PWSTR>(kPersonalStore);
    return binding;
  }

  bool HeldByAnEndedRun() {
    HTTP_SERVICE_CONFIG_SSL_QUERY query{};
    query.QueryDesc = HttpServiceConfigQueryExact;
    query.KeyDesc.pIpPort = reinterpret_cast<PSOCKADDR>(&address_);
    std::vector<std::uint64_t> answer(512);
    ULONG size = 0;
    if (::HttpQueryServiceConfiguration(
            nullptr, HttpServiceConfigSSLCertInfo, &query, sizeof(query), answer.data(),
            static_cast<ULONG>(answer.size() * sizeof(answer[0])), &size, nullptr) != NO_ERROR) {
      return false;
    }
    return reinterpret_cast<const HTTP_SERVICE_CONFIG_SSL_SET*>(answer.data())->ParamDesc.AppId ==
           kSiteBindingId;
  }

  sockaddr_in address_{};
  std::array<BYTE, 20> thumbprint_;
};

// The file of `tree` a request path names, if the path is one the site's tree can hold
// ("/" and then letters, digits, '.', '-', '_' and single '/' between names).
std::optional<std::string> ReadTreeFile(const std::wstring& tree, const std::string& path) {
  const bool plain = path.size() > 1 && path.front() == '/' && path.back() != '/' &&
                     path.find("//") == std::string::npos && path.find("..") == std::string::npos &&
                     std::all_of(path.begin(), path.end(), [](char c) {
                       return std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' ||
                              c == '-' || c == '_';
                     });
  if (!plain) {
    return std::nullopt;
  }
  const std::filesystem::path file = std::filesystem::path(tree) / path.substr(1);
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) {
    return std::nullopt;
  }
  return ReadWholeFile(file);
}

// ---- The user's proxy ----------------------------------------------------------------------

struct WinsockUse {
  WinsockUse() {
    WSADATA data{};
    CheckStatus("WSAStartup", static_cast<ULONG>(::WSAStartup(MAKEWORD(2, 2), &data)));
  }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
  ~WinsockUse() { ::WSACleanup(); }
};

struct SocketTraits {
  using Type = SOCKET;
  static inline const Type kNone = INVALID_SOCKET;
  static bool IsValid(Type value) noexcept { return value != INVALID_SOCKET; }
  static void Close(Type value) noexcept { ::closesocket(value); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

// The per-connection proxy options of the user's LAN settings.
struct ProxyOptions {
  DWORD flags = PROXY_TYPE_DIRECT;
  std::wstring server;
  std::wstring bypass;
  std::wstring autoconfig_url;
};

constexpr DWORD kProxyOptionIds[] = {INTERNET_PER_CONN_FLAGS, INTERNET_PER_CONN_PROXY_SERVER,
                                     INTERNET_PER_CONN_PROXY_BYPASS,
                                     INTERNET_PER_CONN_AUTOCONFIG_URL};

std::wstring TakeOptionText(INTERNET_PER_CONN_OPTIONW& option) {
  const std::wstring text = option.Value.pszValue != nullptr ? option.Value.pszValue : L"";
  ::GlobalFree(option.Value.pszValue);
  return text;
}

ProxyOptions QueryUserProxy() {
  INTERNET_PER_CONN_OPTIONW options[std::size(kProxyOptionIds)] = {};
  for (std::size_t i = 0; i < std::size(options); ++i) {
    options[i].dwOption = kProxyOptionIds[i];
  }
  INTERNET_PER_CONN_OPTION_LISTW list{sizeof(list), nullptr, std::size(options), 0, options};
  DWORD size = sizeof(list);
  if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
    ThrowSupportError("InternetQueryOptionW", ::GetLastError());
  }
  return {options[0].Value.dwValue, TakeOptionText(options[1]), TakeOptionText(options[2]),
          TakeOptionText(options[3])};
}

// Sets the user's options and tells the system's components that they changed.
bool SetUserProxy(const ProxyOptions& wanted) {
  INTERNET_PER_CONN_OPTIONW options[std::size(kProxyOptionIds)] = {};
  const std::wstring* texts[] = {nullptr, &wanted.server, &wanted.bypass, &wanted.autoconfig_url};
  for (std::size_t i = 0; i < std::size(options); ++i) {
    options[i].dwOption = kProxyOptionIds[i];
    if (texts[i] == nullptr) {
      options[i].Value.dwValue = wanted.flags;
    } else {
      options[i].Value.pszValue = const_cast<LPWSTR>(texts[i]->c_str());
    }
  }
  INTERNET_PER_CONN_OPTION_LISTW list{sizeof(list), nullptr, std::size(options), 0, options};
  return ::InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list,
                              sizeof(list)) &&
         ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0) &&
         ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

// The user's proxy set to `server` (and nothing detected or configured automatically) while it
// lives; the user's own options after.
class UserProxySetting {
 public:
  explicit UserProxySetting(const std::wstring& server) : saved_(QueryUserProxy()) {
    if (!SetUserProxy({PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, server, L"", L""})) {
      ThrowSupportError("InternetSetOptionW", ::GetLastError());
    }
  }
  UserProxySetting(const UserProxySetting&) = delete;
  UserProxySetting& operator=(const UserProxySetting&) = delete;
  ~UserProxySetting() { SetUserProxy(saved_); }

 private:
  ProxyOptions saved_;
};

}  // namespace

// ---- The machine's part ---------------------------------------------------------------------

struct UpdateSiteMachine::State {
  HostsLine hosts_line;
  std::unique_ptr<SiteCertificate> trusted;
  std::unique_ptr<SiteCertificate> other;
};

UpdateSiteMachine::UpdateSiteMachine(std::wstring host) : host_(std::move(host)) {
  RemoveCertificatesFor(kRootStore, host_);
  RemoveCertificatesFor(kPersonalStore, host_);
  // Held from the first change on, so a failure after it undoes what was made.
  state_.reset(new State{HostsLine(host_), nullptr, nullptr});
  state_->trusted = MakeSiteCertificate(host_, kTrustedKeyName, true);
  state_->other = MakeSiteCertificate(host_, kOtherKeyName, false);
}

UpdateSiteMachine::~UpdateSiteMachine() = default;

const std::array<BYTE, 20>& UpdateSiteMachine::Thumbprint(bool trusted) const {
  return (trusted ? state_->trusted : state_->other)->thumbprint;
}

// ---- The site -------------------------------------------------------------------------------

struct LocalUpdateSite::Server {
  HttpApiUse api;
  CertificateBinding binding;
  UniqueServerSession session;
  UniqueUrlGroup group;
  UniqueRequestQueue queue;

  Server(const std::wstring& host, const std::array<BYTE, 20>& thumbprint) : binding(thumbprint) {
    CheckStatus("HttpCreateServerSession",
                ::HttpCreateServerSession(kHttpApiVersion, session.put(), 0));
    CheckStatus("HttpCreateUrlGroup", ::HttpCreateUrlGroup(session.get(), group.put(), 0));
    CheckStatus("HttpCreateRequestQueue",
                ::HttpCreateRequestQueue(kHttpApiVersion, nullptr, nullptr, 0, queue.put()));
    HTTP_BINDING_INFO to_queue{};
    to_queue.Flags.Present = 1;
    to_queue.RequestQueueHandle = queue.get();
    CheckStatus("HttpSetUrlGroupProperty",
                ::HttpSetUrlGroupProperty(group.get(), HttpServerBindingProperty, &to_queue,
                                          sizeof(to_queue)));
    const std::wstring url = L"https://" + host + L":" + std::to_wstring(kHttpsPort) + L"/";
    CheckStatus("HttpAddUrlToUrlGroup", ::HttpAddUrlToUrlGroup(group.get(), url.c_str(), 0, 0));
  }
};

LocalUpdateSite::LocalUpdateSite(const UpdateSiteMachine& machine,
                                 std::wstring tree,
                                 SiteBehaviour behaviour)
    : tree_(std::move(tree)),
      behaviour_(std::move(behaviour)),
      server_(std::make_unique<Server>(machine.host(),
                                       machine.Thumbprint(behaviour_.trusted_certificate))),
      thread_([this] { Serve(); }) {}

LocalUpdateSite::~LocalUpdateSite() {
  stopping_ = true;
  ::HttpShutdownRequestQueue(server_->queue.get());  // ends the wait for the next request
  thread_.join();
}

std::vector<std::string> LocalUpdateSite::Requests() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

// Takes requests until the queue is shut down; a silent site never answers one.
void LocalUpdateSite::Serve() {
  std::vector<std::uint64_t> buffer(kRequestBufferWords);
  auto* request = reinterpret_cast<HTTP_REQUEST*>(buffer.data());
  while (!stopping_) {
    ULONG received = 0;
    if (::HttpReceiveHttpRequest(server_->queue.get(), HTTP_NULL_ID, 0, request,
                                 static_cast<ULONG>(buffer.size() * sizeof(buffer[0])), &received,
                                 nullptr) != NO_ERROR) {
      return;
    }
    const std::string path = ToUtf8(std::wstring_view(
        request->CookedUrl.pAbsPath, request->CookedUrl.AbsPathLength / sizeof(wchar_t)));
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back((request->Verb == HttpVerbGET ? "GET " : "OTHER ") + path);
    }
    if (!behaviour_.silent) {
      Answer(request->RequestId, path);
    }
  }
}

// 200 with the tree's file, or 404, in one send; the trickled path's body after its headers in
// pieces, one a second, until it is sent, the client goes or the site stops.
void LocalUpdateSite::Answer(std::uint64_t request_id, const std::string& path) {
  const std::optional<std::string> body = ReadTreeFile(tree_, path);
  HTTP_RESPONSE response{};
  response.StatusCode = body ? 200 : 404;
  const std::string reason = body ? "OK" : "Not Found";
  response.pReason = reason.c_str();
  response.ReasonLength = static_cast<USHORT>(reason.size());
  const std::string length = std::to_string(body ? body->size() : 0);
  response.Headers.KnownHeaders[HttpHeaderContentLength] = {static_cast<USHORT>(length.size()),
                                                            length.c_str()};
  const std::size_t pieces = body && !body->empty() && path == behaviour_.trickled_path
                                 ? std::max<std::size_t>(behaviour_.trickle_seconds, 1)
                                 : 1;
  const auto piece_of_body = [&](std::size_t piece) {
    HTTP_DATA_CHUNK chunk{};
    chunk.DataChunkType = HttpDataChunkFromMemory;
    const std::size_t begin = body->size() * piece / pieces;
    chunk.FromMemory.pBuffer = const_cast<char*>(body->data() + begin);
    chunk.FromMemory.BufferLength = static_cast<ULONG>(body->size() * (piece + 1) / pieces - begin);
    return chunk;
  };
  const HANDLE queue = server_->queue.get();
  HTTP_DATA_CHUNK whole{};
  if (pieces == 1) {
    if (body && !body->empty()) {
      whole = piece_of_body(0);
      response.EntityChunkCount = 1;
      response.pEntityChunks = &whole;
    }
    ::HttpSendHttpResponse(queue, request_id, 0, &response, nullptr, nullptr, nullptr, 0, nullptr,
                           nullptr);
    return;
  }
  if (::HttpSendHttpResponse(queue, request_id, HTTP_SEND_RESPONSE_FLAG_MORE_DATA, &response,
                             nullptr, nullptr, nullptr, 0, nullptr, nullptr) != NO_ERROR) {
    return;
  }
  for (std::size_t piece = 0; piece < pieces && !stopping_; ++piece) {
    if (piece > 0) {
      ::Sleep(kTrickleIntervalMs);
    }
    HTTP_DATA_CHUNK chunk = piece_of_body(piece);
    const ULONG more = piece + 1 < pieces ? HTTP_SEND_RESPONSE_FLAG_MORE_DATA : 0;
    if (::HttpSendResponseEntityBody(queue, request_id, more, 1, &chunk, nullptr, nullptr, 0,
                                     nullptr, nullptr) != NO_ERROR) {
      return;  // the client went
    }
  }
}

// ---- The proxy recorder -------------------------------------------------------------------

struct UserProxyRecorder::State {
  WinsockUse winsock;
  UniqueSocket listener;
  std::unique_ptr<UserProxySetting> setting;
};

UserProxyRecorder::UserProxyRecorder() : state_(std::make_unique<State>()) {
  state_->listener.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);  // port 0: one the system chooses
  int length = sizeof(address);
  if (!state_->listener ||
      ::bind(state_->listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(state_->listener.get(), SOMAXCONN) != 0 ||
      ::getsockname(state_->listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowSupportError("the proxy recorder's socket", static_cast<ULONG>(::WSAGetLastError()));
  }
  // Connections made before the recorder runs wait in the listen queue.
  state_->setting = std::make_unique<UserProxySetting>(L"127.0.0.1:" +
                                                       std::to_wstring(::ntohs(address.sin_port)));
  const SOCKET listener = state_->listener.get();
  thread_ = std::thread([this, listener] { Record(listener); });
}

UserProxyRecorder::~UserProxyRecorder() {
  state_->setting.reset();
  state_->listener.reset();  // ends the wait for the next connection
  thread_.join();
}

std::vector<std::string> UserProxyRecorder::RequestLines() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void UserProxyRecorder::Record(std::uintptr_t listener) {
  constexpr std::size_t kLineLimit = 4096;
  for (;;) {
    const UniqueSocket client(::accept(static_cast<SOCKET>(listener), nullptr, nullptr));
    if (!client) {
      return;
    }
    std::string received;
    char buffer[1024];
    while (received.find("\r\n") == std::string::npos && received.size() < kLineLimit) {
      const int count = ::recv(client.get(), buffer, sizeof(buffer), 0);
      if (count <= 0) {
        break;
      }
      received.append(buffer, static_cast<std::size_t>(count));
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(received.substr(0, received.find("\r\n")));
  }
}

}  // namespace vexo::test
