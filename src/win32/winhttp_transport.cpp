#include "win32/winhttp_transport.h"

#include <optional>
#include <string>

#include "win32/module.h"
#include "win32/wide.h"

namespace tallowin::win32 {

namespace {

// The reasons Windows gives for a refused certificate (a SECURE_FAILURE
// notice before ERROR_WINHTTP_SECURE_FAILURE), the most telling first.
std::string secureFailureText(const char* what, DWORD flags) {
  static const struct {
    DWORD flag;
    const char* text;
  } kReasons[] = {
      {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "certificate not trusted"},
      {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "name mismatch"},
      {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, "certificate expired"},
      {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "certificate revoked"},
      {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "certificate revocation not checked"},
      {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "certificate not valid"},
      {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "TLS error"},
  };
  std::string text;
  for (const auto& r : kReasons)
    if (flags & r.flag) text += (text.empty() ? "" : ", ") + std::string(r.text);
  return std::string(what) + ": " + (text.empty() ? "certificate not valid" : text);
}

std::string errorText(const char* what, DWORD e) {
  switch (e) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT: return std::string(what) + ": timed out";
    case ERROR_WINHTTP_CANNOT_CONNECT: return std::string(what) + ": cannot connect";
    case ERROR_WINHTTP_CONNECTION_ERROR: return std::string(what) + ": connection reset";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return std::string(what) + ": host name not resolved";
    // The same reasons as the notice's flags, when the error itself names one.
    case ERROR_WINHTTP_SECURE_INVALID_CA: return secureFailureText(what, WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA);
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return secureFailureText(what, WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID);
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return secureFailureText(what, WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID);
    case ERROR_WINHTTP_SECURE_CERT_REVOKED: return secureFailureText(what, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED);
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
      return secureFailureText(what, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED);
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT: return secureFailureText(what, 0);
    // Wine reports every failed certificate check so, without the reason.
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return std::string(what) +
             ": the secure connection failed: certificate not trusted, name mismatch, expired, or no TLS there";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return std::string(what) + ": invalid server response";
    case ERROR_WINHTTP_OPERATION_CANCELLED: return std::string(what) + ": cancelled";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return std::string(what) + ": not an http or https address";
    default: return std::string(what) + ": error " + std::to_string(e);
  }
}

// ---- the address ----

struct CrackedUrl {
  std::wstring host;
  INTERNET_PORT port = 0;
  bool secure = false;
  std::wstring object;  // path and query
};

std::optional<CrackedUrl> crackUrl(const std::string& url, std::string* error) {
  const std::wstring wurl = Wide(url);
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
    *error = "not a valid address: " + url;
    return std::nullopt;
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    *error = "not an http or https address: " + url;
    return std::nullopt;
  }
  CrackedUrl c;
  c.host.assign(host, parts.dwHostNameLength);
  c.port = parts.nPort;
  c.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  c.object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
             std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  return c;
}

// ---- what WinHTTP's thread shares with the caller ----

// WinHTTP runs onStatus on a thread of its own, up to and including the last
// notice (HANDLE_CLOSING), and nothing tells any thread of ours when that
// call has returned: whatever the last notice does to let the module go
// (count down, set an event), the rest of onStatus (at least its return) still
// runs after it, and a CoFreeUnusedLibraries on another thread could unmap
// the ocx in between. So the image is pinned (GetModuleHandleEx's PIN: mapped
// until the process ends) before WinHTTP is first given the callback's
// address; no instruction of this module can then run in unmapped memory, on
// WinHTTP's thread or any other. The module count still follows each request
// until its last notice, so DllCanUnloadNow answers S_FALSE while notices are
// outstanding. The price: once an upload has run, the ocx stays mapped (one
// image, however many uploads) after its last object has gone.
bool pinModule() {
  static std::atomic<bool> pinned{false};
  if (pinned) return true;
  HMODULE self = nullptr;  // found by an address inside the image: this flag's
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&pinned), &self))
    return false;
  pinned = true;
  return true;
}

// A request's state in asynchronous mode. WinHTTP may still call back after
// the handle is closed, until its last notice (HANDLE_CLOSING); so the state
// and the buffer WinHTTP reads into live on the heap with two owners, the
// caller and WinHTTP, and the module count is held until both have let go.
struct NoticeState {
  ModuleLock hold;
  UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<int> owners{1};  // WinHTTP's share is added once the callback is set
  DWORD completed = 0;         // the last completion notice
  DWORD error = 0;             // from REQUEST_ERROR
  DWORD secureFlags = 0;       // from SECURE_FAILURE
  DWORD bytes = 0;             // DATA_AVAILABLE / READ_COMPLETE
  std::string body;            // what is sent: WinHTTP may read it after we gave up
  char buffer[16384];

  void release() {
    if (owners.fetch_sub(1) == 1) delete this;
  }
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* s = reinterpret_cast<NoticeState*>(context);
  if (!s) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      s->release();
      return;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      // Not the end of the step: REQUEST_ERROR follows.
      s->secureFlags = info && length >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : 0;
      return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      s->error = info ? static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      s->bytes = info && length >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : 0;
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      s->bytes = length;
      break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      break;
    default:
      return;
  }
  s->completed = status;
  ::SetEvent(s->done.get());
}

// ---- one request, step by step, on the caller's thread ----

// Each step starts one asynchronous call and waits for its notice, the
// cancel, or the end of the whole-request time; false (with the response's
// error set) unless it succeeded.
class AsyncRequest {
 public:
  AsyncRequest(HANDLE cancelEvent, const std::atomic<bool>& cancelled, const HttpTimeLimits& limits, HttpResponse& r)
      : cancelEvent_(cancelEvent), cancelled_(cancelled), limits_(limits), r_(r), started_(::GetTickCount()) {}
  ~AsyncRequest() {
    // Closing the request ends our share; WinHTTP's ends with its last notice.
    request_.reset();
    if (state_) state_->release();
  }
  AsyncRequest(const AsyncRequest&) = delete;
  AsyncRequest& operator=(const AsyncRequest&) = delete;

  bool open(HINTERNET session, const CrackedUrl& url, const wchar_t* verb);
  bool send(const HttpHeaders& headers, const std::string& body);
  bool receiveHeaders(size_t maxBytes);
  bool readBody(size_t maxBytes);

 private:
  template <typename Start>
  bool step(const char* what, DWORD expected, const Start& start);
  bool fail(std::string error) {
    r_.error = std::move(error);
    return false;
  }

  HANDLE cancelEvent_;
  const std::atomic<bool>& cancelled_;
  const HttpTimeLimits& limits_;
  HttpResponse& r_;
  const DWORD started_;
  UniqueInternet connection_;
  UniqueInternet request_;
  NoticeState* state_ = nullptr;
  DWORD_PTR context_ = 0;
  std::optional<DWORD> length_;  // Content-Length, when announced
};

bool AsyncRequest::open(HINTERNET session, const CrackedUrl& url, const wchar_t* verb) {
  connection_.reset(::WinHttpConnect(session, url.host.c_str(), url.port, 0));
  if (!connection_) return fail(errorText("connect", ::GetLastError()));
  // Certificates are always validated: no flag here turns that off.
  request_.reset(::WinHttpOpenRequest(connection_.get(), verb, url.object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request_) return fail(errorText("request", ::GetLastError()));
  state_ = new NoticeState;
  if (!state_->done) return fail(errorText("request", ::GetLastError()));
  if (!pinModule()) return fail(errorText("request", ::GetLastError()));
  context_ = reinterpret_cast<DWORD_PTR>(state_);
  ::WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context_, sizeof(context_));
  if (::WinHttpSetStatusCallback(request_.get(), onStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                                     WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK)
    return fail(errorText("request", ::GetLastError()));
  state_->owners.fetch_add(1);  // WinHTTP's share, given back on HANDLE_CLOSING
  // The wait for the answer's headers has a time-out of its own, which
  // WinHttpSetTimeouts does not set (Wine's default is to wait for ever).
  auto responseMs = static_cast<DWORD>(limits_.receiveMs);
  ::WinHttpSetOption(request_.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof(responseMs));
  return true;
}

template <typename Start>
bool AsyncRequest::step(const char* what, DWORD expected, const Start& start) {
  ::ResetEvent(state_->done.get());
  state_->error = 0;
  if (!start()) return fail(errorText(what, ::GetLastError()));
  const DWORD spent = ::GetTickCount() - started_;
  const DWORD whole = limits_.wholeRequestMs;
  const DWORD left = spent >= whole ? 0 : whole - spent;
  HANDLE waits[2] = {state_->done.get(), cancelEvent_};
  const DWORD w = ::WaitForMultipleObjects(2, waits, FALSE, left);
  if (w == WAIT_OBJECT_0 + 1 || cancelled_) return fail("cancelled");
  if (w != WAIT_OBJECT_0) return fail("no answer within " + std::to_string(whole / 1000) + " s");
  if (state_->completed != expected)
    return fail(state_->error == ERROR_WINHTTP_SECURE_FAILURE && state_->secureFlags
                    ? secureFailureText(what, state_->secureFlags)
                    : errorText(what, state_->error));
  return true;
}

bool AsyncRequest::send(const HttpHeaders& headers, const std::string& body) {
  std::wstring headerText;
  for (const auto& [name, value] : headers) headerText += Wide(name) + L": " + Wide(value) + L"\r\n";
  state_->body = body;
  return step("send", WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, [&] {
    std::string& data = state_->body;
    return ::WinHttpSendRequest(request_.get(),
                                headerText.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headerText.c_str(),
                                headerText.empty() ? 0 : static_cast<DWORD>(-1L),
                                data.empty() ? WINHTTP_NO_REQUEST_DATA : data.data(),
                                static_cast<DWORD>(data.size()), static_cast<DWORD>(data.size()), context_) != FALSE;
  });
}

// The status line and the announced length; an answer announced above
// maxBytes is refused before its body is read.
bool AsyncRequest::receiveHeaders(size_t maxBytes) {
  if (!step("send", WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE,
            [&] { return ::WinHttpReceiveResponse(request_.get(), nullptr) != FALSE; }))
    return false;
  DWORD status = 0;
  DWORD size = sizeof(status);
  ::WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  r_.status = static_cast<int>(status);
  DWORD length = 0;
  size = sizeof(length);
  if (::WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX))
    length_ = length;
  if (length_ && *length_ > maxBytes) return fail("answer too large (" + std::to_string(*length_) + " bytes)");
  return true;
}

bool AsyncRequest::readBody(size_t maxBytes) {
  for (;;) {
    // Ask what has arrived, then read only that: a read for a whole buffer
    // may wait until the buffer is full.
    if (!step("receive", WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE,
              [&] { return ::WinHttpQueryDataAvailable(request_.get(), nullptr) != FALSE; }))
      return false;
    const DWORD available = state_->bytes;
    if (available == 0) break;
    const DWORD want = available < sizeof(state_->buffer) ? available : static_cast<DWORD>(sizeof(state_->buffer));
    if (!step("receive", WINHTTP_CALLBACK_STATUS_READ_COMPLETE,
              [&] { return ::WinHttpReadData(request_.get(), state_->buffer, want, nullptr) != FALSE; }))
      return false;
    const DWORD got = state_->bytes;
    if (got == 0) break;
    if (r_.body.size() + got > maxBytes) {
      r_.body.clear();
      return fail("answer too large (above " + std::to_string(maxBytes) + " bytes)");
    }
    r_.body.append(state_->buffer, got);
  }
  // A connection closed before the announced length is a lost answer, not a
  // short one (WinHTTP may report the end as a normal one).
  if (length_ && r_.body.size() < *length_) {
    const std::string got = std::to_string(r_.body.size());
    r_.body.clear();
    return fail("the connection closed after " + got + " of " + std::to_string(*length_) + " bytes");
  }
  return true;
}

}  // namespace

WinHttpTransport::WinHttpTransport(const HttpTimeLimits& limits)
    : limits_(limits),
      session_(::WinHttpOpen(L"Tallowin/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC)),
      cancelEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (session_) {
    ::WinHttpSetTimeouts(session_.get(), limits_.resolveMs, limits_.connectMs, limits_.sendMs, limits_.receiveMs);
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(session_.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never));
  }
}

WinHttpTransport::~WinHttpTransport() = default;

void WinHttpTransport::Cancel() {
  cancelled_ = true;
  if (cancelEvent_) ::SetEvent(cancelEvent_.get());
}

HttpResponse WinHttpTransport::Get(const std::string& url, size_t maxBytes) {
  return request(L"GET", url, {}, {}, maxBytes);
}

HttpResponse WinHttpTransport::GetWithHeaders(const std::string& url, const HttpHeaders& headers, size_t maxBytes) {
  return request(L"GET", url, headers, {}, maxBytes);
}

HttpResponse WinHttpTransport::Post(const std::string& url, const HttpHeaders& headers, const std::string& body,
                                    size_t maxBytes) {
  return request(L"POST", url, headers, body, maxBytes);
}

HttpResponse WinHttpTransport::request(const wchar_t* verb, const std::string& url, const HttpHeaders& headers,
                                       const std::string& body, size_t maxBytes) {
  HttpResponse r;
  if (!session_ || !cancelEvent_) {
    r.error = errorText("WinHttpOpen", ::GetLastError());
    return r;
  }
  if (cancelled_) {
    r.error = "cancelled";
    return r;
  }
  const std::optional<CrackedUrl> cracked = crackUrl(url, &r.error);
  if (!cracked) return r;
  AsyncRequest exchange(cancelEvent_.get(), cancelled_, limits_, r);
  r.ok = exchange.open(session_.get(), *cracked, verb) && exchange.send(headers, body) &&
         exchange.receiveHeaders(maxBytes) && exchange.readBody(maxBytes);
  return r;
}

}  // namespace tallowin::win32
