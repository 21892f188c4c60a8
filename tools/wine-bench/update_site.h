// A local update site for the Windows runner (docs/wine-gaps.md): the build's update host name
// served over HTTPS by http.sys on 127.0.0.1:443, from a folder laid out as the update site's
// tree, so the launcher's WinHTTP request, its certificate check against the machine's trusted
// roots and its deadlines meet the real Windows components.
//
// Everything it changes on the machine is made by the test program and undone when the holder
// goes, newest first: the host name's line in the hosts file, two certificates for the host
// (each self-signed, with a persisted machine key in the machine's personal store; one of them
// also a trusted root of the machine), http.sys's certificate binding for 127.0.0.1:443 and the
// site's URL. Certificates for the host left by an ended run are removed before new ones are
// made. Needs an elevated administrator; never built for Wine, which has no TLS in http.sys.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexo::test {

// How the site answers one row's requests.
struct SiteBehaviour {
  bool trusted_certificate = true;    // false: a certificate no root of the machine vouches for
  bool silent = false;                // takes every request and never answers
  std::string trickled_path{};        // this path's body goes out in pieces, one a second...
  std::uint32_t trickle_seconds = 0;  // ...over this many seconds
};

// The machine's part: the hosts file line and both certificates, for the whole test program.
class UpdateSiteMachine {
 public:
  explicit UpdateSiteMachine(std::wstring host);
  UpdateSiteMachine(const UpdateSiteMachine&) = delete;
  UpdateSiteMachine& operator=(const UpdateSiteMachine&) = delete;
  ~UpdateSiteMachine();

  const std::wstring& host() const { return host_; }
  // The SHA-1 thumbprint http.sys binds by, of the trusted or the other certificate.
  const std::array<BYTE, 20>& Thumbprint(bool trusted) const;

 private:
  struct State;
  std::wstring host_;
  std::unique_ptr<State> state_;
};

// One site: serves `tree` at https://<host>/ as `behaviour` says while it lives.
class LocalUpdateSite {
 public:
  LocalUpdateSite(const UpdateSiteMachine& machine, std::wstring tree, SiteBehaviour behaviour);
  LocalUpdateSite(const LocalUpdateSite&) = delete;
  LocalUpdateSite& operator=(const LocalUpdateSite&) = delete;
  ~LocalUpdateSite();

  // "GET /path" for every request taken so far, in order.
  std::vector<std::string> Requests() const;

 private:
  struct Server;
  void Serve();
  void Answer(std::uint64_t request_id, const std::string& path);

  std::wstring tree_;
  SiteBehaviour behaviour_;
  std::unique_ptr<Server> server_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// The current user's proxy (which WinHTTP's automatic proxy setting follows on Windows) pointed
// at a recorder on 127.0.0.1 that notes the first line of every request it gets and closes the
// connection, refusing every tunnel. The user's settings are given back when it goes.
class UserProxyRecorder {
 public:
  UserProxyRecorder();
  UserProxyRecorder(const UserProxyRecorder&) = delete;
  UserProxyRecorder& operator=(const UserProxyRecorder&) = delete;
  ~UserProxyRecorder();

  std::vector<std::string> RequestLines() const;

 private:
  struct State;
  void Record(std::uintptr_t listener);

  std::unique_ptr<State> state_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::thread thread_;
};

}  // namespace vexo::test
