#include "win32/winhttp_transport.h"


#include <thread>

#include "win32/wide.h"

namespace tallowin::win32 {

namespace {

struct InternetHandle {
  HINTERNET h = nullptr;
  explicit InternetHandle(HINTERNET x) : h(x) {}
  ~InternetHandle() {
    if (h) ::WinHttpCloseHandle(h);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
};

std::string lastError(const char* what) {
  const DWORD e = ::GetLastError();
  switch (e) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT: return std::string(what) + ": timed out";
    case ERROR_WINHTTP_CANNOT_CONNECT: return std::string(what) + ": cannot connect";
    case ERROR_WINHTTP_CONNECTION_ERROR: return std::string(what) + ": connection reset";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return std::string(what) + ": host name not resolved";
    case ERROR_WINHTTP_SECURE_FAILURE: return std::string(what) + ": certificate not valid";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return std::string(what) + ": invalid server response";
    case ERROR_WINHTTP_OPERATION_CANCELLED: return std::string(what) + ": cancelled";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return std::string(what) + ": not an http or https address";
    default: return std::string(what) + ": error " + std::to_string(e);
  }
}

}  // namespace

WinHttpTransport::WinHttpTransport() {
  session_ = ::WinHttpOpen(L"Tallowin/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
  if (session_) {
    ::WinHttpSetTimeouts(session_, kResolveMs, kConnectMs, kSendMs, kReceiveMs);
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(session_, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never));
  }
}

WinHttpTransport::~WinHttpTransport() {
  if (session_) ::WinHttpCloseHandle(session_);
}

void WinHttpTransport::Cancel() {
  cancelled_ = true;
  abortCurrent();
}

void WinHttpTransport::abortCurrent() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Closing the request handle makes a blocked WinHTTP call return.
  if (current_) {
    ::WinHttpCloseHandle(current_);
    current_ = nullptr;
  }
}

HttpResponse WinHttpTransport::Get(const std::string& url, size_t maxBytes) {
  return timed(request(L"GET", url, {}, {}, maxBytes));
}

HttpResponse WinHttpTransport::Post(const std::string& url, const HttpHeaders& headers, const std::string& body,
                                    size_t maxBytes) {
  return timed(request(L"POST", url, headers, body, maxBytes));
}

HttpResponse WinHttpTransport::timed(HttpResponse r) {
  if (!r.ok && timedOut_) r.error = "no answer within " + std::to_string(kWholeRequestMs / 1000) + " s";
  timedOut_ = false;
  return r;
}

HttpResponse WinHttpTransport::request(const wchar_t* verb, const std::string& url, const HttpHeaders& headers,
                                       const std::string& body, size_t maxBytes) {
  HttpResponse r;
  if (!session_) {
    r.error = lastError("WinHttpOpen");
    return r;
  }
  if (cancelled_) {
    r.error = "cancelled";
    return r;
  }
  const DWORD started = ::GetTickCount();
  std::wstring wurl = Wide(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256] = {};
  std::wstring path(wurl.size() + 1, L'\0');
  std::wstring extra(wurl.size() + 1, L'\0');
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!::WinHttpCrackUrl(wurl.c_str(), static_cast<DWORD>(wurl.size()), 0, &parts)) {
    r.error = "not a valid address: " + url;
    return r;
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    r.error = "not an http or https address: " + url;
    return r;
  }
  const std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  InternetHandle connection(::WinHttpConnect(session_, std::wstring(host, parts.dwHostNameLength).c_str(), parts.nPort, 0));
  if (!connection.h) {
    r.error = lastError("connect");
    return r;
  }
  // Certificates are always validated: no flag here turns that off.
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  HINTERNET req = ::WinHttpOpenRequest(connection.h, verb, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
  if (!req) {
    r.error = lastError("request");
    return r;
  }
  // The wait for the answer's headers has a time-out of its own, which
  // WinHttpSetTimeouts does not set (Wine's default is to wait for ever).
  DWORD responseMs = kReceiveMs;
  ::WinHttpSetOption(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof(responseMs));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = req;
  }
  // A server that accepts and never answers, or trickles its answer, must not
  // hold the caller past the whole-request limit: a watchdog closes the
  // request handle, which ends the blocked WinHTTP call.
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread watchdog;
  if (done) {
    watchdog = std::thread([this, done] {
      if (::WaitForSingleObject(done, kWholeRequestMs) == WAIT_TIMEOUT) {
        timedOut_ = true;
        abortCurrent();
      }
    });
  }
  struct StopWatch {
    HANDLE done;
    std::thread& thread;
    ~StopWatch() {
      if (done) ::SetEvent(done);
      if (thread.joinable()) thread.join();
      if (done) ::CloseHandle(done);
    }
  } stopWatch{done, watchdog};
  // Whoever still owns the handle at the end closes it (Cancel may have).
  struct Release {
    WinHttpTransport* self;
    HINTERNET req;
    ~Release() {
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (self->current_ == req) {
        ::WinHttpCloseHandle(req);
        self->current_ = nullptr;
      }
    }
  } release{this, req};

  std::wstring headerText;
  for (const auto& [name, value] : headers) headerText += Wide(name) + L": " + Wide(value) + L"\r\n";
  if (!::WinHttpSendRequest(req, headerText.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headerText.c_str(),
                            headerText.empty() ? 0 : static_cast<DWORD>(-1L),
                            body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
      !::WinHttpReceiveResponse(req, nullptr)) {
    r.error = cancelled_ ? "cancelled" : lastError("send");
    return r;
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  ::WinHttpQueryHeaders(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
  r.status = static_cast<int>(status);
  DWORD length = 0;
  size = sizeof(length);
  const bool lengthKnown = ::WinHttpQueryHeaders(req, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                                 WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX);
  if (lengthKnown && length > maxBytes) {
    r.error = "answer too large (" + std::to_string(length) + " bytes)";
    return r;
  }
  char buffer[16384];
  for (;;) {
    if (::GetTickCount() - started > kWholeRequestMs) {
      r.error = "no answer within " + std::to_string(kWholeRequestMs / 1000) + " s";
      return r;
    }
    // Ask what has arrived first and read only that: a read for a whole
    // buffer may wait until the buffer is full (Wine's does), and a server
    // sending a byte a second would then hold the caller for hours.
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(req, &available)) {
      r.error = cancelled_ ? "cancelled" : lastError("receive");
      return r;
    }
    if (available == 0) break;
    DWORD got = 0;
    if (!::WinHttpReadData(req, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got)) {
      r.error = cancelled_ ? "cancelled" : lastError("receive");
      return r;
    }
    if (got == 0) break;
    if (r.body.size() + got > maxBytes) {
      r.error = "answer too large (above " + std::to_string(maxBytes) + " bytes)";
      r.body.clear();
      return r;
    }
    r.body.append(buffer, got);
  }
  // A connection closed before the announced length is a lost answer, not a
  // short one (WinHTTP may report the end as a normal one).
  if (lengthKnown && r.body.size() < length) {
    r.error = "the connection closed after " + std::to_string(r.body.size()) + " of " + std::to_string(length) +
              " bytes";
    r.body.clear();
    return r;
  }
  r.ok = true;
  return r;
}

}  // namespace tallowin::win32
