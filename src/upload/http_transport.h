// What the SOAP client needs of HTTP: one GET and one POST, each bounded in
// size and time, no redirect followed.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tallowin {

struct HttpResponse {
  bool ok = false;        // an answer arrived whole (any status)
  int status = 0;         // the HTTP status code
  std::string body;
  std::string error;      // why there is no answer, for the command line
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // An answer body above maxBytes is refused (ok false).
  virtual HttpResponse Get(const std::string& url, size_t maxBytes) = 0;
  virtual HttpResponse GetWithHeaders(const std::string& url, const HttpHeaders& headers, size_t maxBytes) = 0;
  virtual HttpResponse Post(const std::string& url, const HttpHeaders& headers, const std::string& body,
                            size_t maxBytes) = 0;
};

}  // namespace tallowin
