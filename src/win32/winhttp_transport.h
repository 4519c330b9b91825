// HTTP over WinHTTP, with time-outs so that a silent or trickling server
// cannot hold the caller for long, and no redirects: only the WSDL fetch and
// the one call.
#pragma once

#include "win32/win.h"

#include <atomic>

#include "upload/http_transport.h"
#include "win32/handles.h"

namespace tallowin::win32 {

// Time-outs in milliseconds, and a cap on one whole request (a server that
// trickles one byte a second never trips the per-receive time-out). The
// product always uses these; the Wine tests shorten them where all a test
// needs is that the time-out ends the wait.
struct HttpTimeLimits {
  int resolveMs = 5000;
  int connectMs = 5000;
  int sendMs = 10000;
  int receiveMs = 15000;
  DWORD wholeRequestMs = 30000;
};

class WinHttpTransport : public HttpTransport {
 public:
  explicit WinHttpTransport(const HttpTimeLimits& limits = {});
  ~WinHttpTransport() override;
  HttpResponse Get(const std::string& url, size_t maxBytes) override;
  HttpResponse GetWithHeaders(const std::string& url, const HttpHeaders& headers, size_t maxBytes) override;
  HttpResponse Post(const std::string& url, const HttpHeaders& headers, const std::string& body,
                    size_t maxBytes) override;
  // From another thread: ends a request in progress at once; later ones are
  // not made.
  void Cancel();

 private:
  HttpResponse request(const wchar_t* verb, const std::string& url, const HttpHeaders& headers,
                       const std::string& body, size_t maxBytes);
  HttpTimeLimits limits_;
  UniqueInternet session_;
  UniqueHandle cancelEvent_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace tallowin::win32
