#include "win32/winhttp_transport.h"

#include <string>

#include "win32/module.h"
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

std::string errorText(const char* what, DWORD e) {
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

// One request in asynchronous mode, so that a request given up on (time
// limit, cancel) ends at once for the caller: a blocked synchronous call is
// not ended by closing its handle. WinHTTP may still call back after the
// handle is closed, until its last notice (HANDLE_CLOSING); so the state and
// the buffer WinHTTP reads into live on the heap with two owners, the caller
// and WinHTTP, and hold the module so that an ocx is not unloaded under a
// late callback.
struct AsyncRequest {
  ModuleLock hold;
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> owners{1};  // WinHTTP's share is added once the callback is set
  DWORD completed = 0;         // the last completion notice
  DWORD error = 0;             // from REQUEST_ERROR
  DWORD bytes = 0;             // DATA_AVAILABLE / READ_COMPLETE
  std::string body;            // what is sent: WinHTTP may read it after we gave up
  char buffer[16384];

  ~AsyncRequest() {
    if (done) ::CloseHandle(done);
  }
  void release() {
    if (owners.fetch_sub(1) == 1) delete this;
  }
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* s = reinterpret_cast<AsyncRequest*>(context);
  if (!s) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      s->release();
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
  ::SetEvent(s->done);
}

}  // namespace

WinHttpTransport::WinHttpTransport() {
  cancelEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  session_ = ::WinHttpOpen(L"Tallowin/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (session_) {
    ::WinHttpSetTimeouts(session_, kResolveMs, kConnectMs, kSendMs, kReceiveMs);
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(session_, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never));
  }
}

WinHttpTransport::~WinHttpTransport() {
  if (session_) ::WinHttpCloseHandle(session_);
  if (cancelEvent_) ::CloseHandle(cancelEvent_);
}

void WinHttpTransport::Cancel() {
  cancelled_ = true;
  if (cancelEvent_) ::SetEvent(cancelEvent_);
}

HttpResponse WinHttpTransport::Get(const std::string& url, size_t maxBytes) {
  return request(L"GET", url, {}, {}, maxBytes);
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
  InternetHandle connection(
      ::WinHttpConnect(session_, std::wstring(host, parts.dwHostNameLength).c_str(), parts.nPort, 0));
  if (!connection.h) {
    r.error = errorText("connect", ::GetLastError());
    return r;
  }
  // Certificates are always validated: no flag here turns that off.
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  HINTERNET req = ::WinHttpOpenRequest(connection.h, verb, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
  if (!req) {
    r.error = errorText("request", ::GetLastError());
    return r;
  }
  auto* state = new AsyncRequest;
  // Closing the request ends our share; WinHTTP's ends with its last notice.
  struct Close {
    HINTERNET req;
    AsyncRequest* state;
    ~Close() {
      ::WinHttpCloseHandle(req);
      state->release();
    }
  } close{req, state};
  if (!state->done) {
    r.error = errorText("request", ::GetLastError());
    return r;
  }
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(state);
  ::WinHttpSetOption(req, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
  if (::WinHttpSetStatusCallback(req, onStatus, WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    r.error = errorText("request", ::GetLastError());
    return r;
  }
  state->owners.fetch_add(1);  // WinHTTP's share, given back on HANDLE_CLOSING
  // The wait for the answer's headers has a time-out of its own, which
  // WinHttpSetTimeouts does not set (Wine's default is to wait for ever).
  DWORD responseMs = kReceiveMs;
  ::WinHttpSetOption(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof(responseMs));

  // Starts one step and waits for its notice, the cancel, or the end of the
  // whole-request time; false (with r.error set) unless the step succeeded.
  auto step = [&](const char* what, DWORD expected, const auto& start) {
    ::ResetEvent(state->done);
    state->error = 0;
    if (!start()) {
      r.error = errorText(what, ::GetLastError());
      return false;
    }
    const DWORD spent = ::GetTickCount() - started;
    const DWORD left = spent >= kWholeRequestMs ? 0 : kWholeRequestMs - spent;
    HANDLE waits[2] = {state->done, cancelEvent_};
    const DWORD w = ::WaitForMultipleObjects(2, waits, FALSE, left);
    if (w == WAIT_OBJECT_0 + 1 || cancelled_) {
      r.error = "cancelled";
      return false;
    }
    if (w != WAIT_OBJECT_0) {
      r.error = "no answer within " + std::to_string(kWholeRequestMs / 1000) + " s";
      return false;
    }
    if (state->completed != expected) {
      r.error = errorText(what, state->error);
      return false;
    }
    return true;
  };

  std::wstring headerText;
  for (const auto& [name, value] : headers) headerText += Wide(name) + L": " + Wide(value) + L"\r\n";
  state->body = body;
  const bool sent = step("send", WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, [&] {
    std::string& data = state->body;
    return ::WinHttpSendRequest(req, headerText.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headerText.c_str(),
                                headerText.empty() ? 0 : static_cast<DWORD>(-1L),
                                data.empty() ? WINHTTP_NO_REQUEST_DATA : data.data(),
                                static_cast<DWORD>(data.size()), static_cast<DWORD>(data.size()), context) != FALSE;
  });
  if (!sent || !step("send", WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE,
                     [&] { return ::WinHttpReceiveResponse(req, nullptr) != FALSE; }))
    return r;
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
  for (;;) {
    // Ask what has arrived, then read only that: a read for a whole buffer
    // may wait until the buffer is full.
    if (!step("receive", WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE,
              [&] { return ::WinHttpQueryDataAvailable(req, nullptr) != FALSE; }))
      return r;
    const DWORD available = state->bytes;
    if (available == 0) break;
    const DWORD want = available < sizeof(state->buffer) ? available : static_cast<DWORD>(sizeof(state->buffer));
    if (!step("receive", WINHTTP_CALLBACK_STATUS_READ_COMPLETE,
              [&] { return ::WinHttpReadData(req, state->buffer, want, nullptr) != FALSE; }))
      return r;
    const DWORD got = state->bytes;
    if (got == 0) break;
    if (r.body.size() + got > maxBytes) {
      r.error = "answer too large (above " + std::to_string(maxBytes) + " bytes)";
      r.body.clear();
      return r;
    }
    r.body.append(state->buffer, got);
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
