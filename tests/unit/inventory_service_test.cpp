// The whole exchange against the inventory service (service/tallowin-service
// in gunicorn), with a plain socket standing in for the binding's HTTP
// transport: fetch the WSDL, plan, write, post, judge the answer, and find the
// record stored as sent. Skipped where Python or the service's packages are
// missing.
#ifdef TALLOWIN_HAVE_LIBXML2

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/libxml2_reader.h"
#include "upload/server_setting.h"
#include "upload/soap/envelope.h"
#include "upload/soap/wsdl.h"

namespace tallowin {
namespace {

using namespace soap;
namespace fs = std::filesystem;

const fs::path kService = fs::path(__FILE__).parent_path().parent_path().parent_path() / "service" / "tallowin-service";
constexpr const char* kPython = "/usr/bin/python3";

struct HttpAnswer {
  int status = 0;
  std::string body;
};

// HTTP/1.0 to 127.0.0.1 only, read to the end; enough for a test.
HttpAnswer Http(const std::string& method, const std::string& url,
                const std::vector<std::pair<std::string, std::string>>& headers = {}, const std::string& body = {}) {
  HttpAnswer answer;
  const std::string prefix = "http://127.0.0.1:";
  if (url.rfind(prefix, 0) != 0) return answer;
  const size_t slash = url.find('/', prefix.size());
  const int port = std::atoi(url.substr(prefix.size(), slash - prefix.size()).c_str());
  std::string request =
      method + " " + url.substr(slash) + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
  for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
  if (method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;

  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0) close(fd);
    return answer;
  }
  for (size_t sent = 0; sent < request.size();) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string raw;
  char buf[8192];
  for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) raw.append(buf, static_cast<size_t>(n));
  close(fd);
  const size_t end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/", 0) != 0 || end == std::string::npos) return answer;
  answer.status = std::atoi(raw.c_str() + raw.find(' ') + 1);
  answer.body = raw.substr(end + 4);
  return answer;
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string Hex(std::string_view s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class InventoryServicePeer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kPython, X_OK) != 0 ||
        Output(std::string(kPython) + " -c 'import spyne, flask, sqlalchemy, gunicorn; print(1)' 2>/dev/null") != "1\n")
      GTEST_SKIP() << "no Python with spyne, flask, sqlalchemy and gunicorn";
    char dir[] = "/tmp/tallowin-peer-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    dir_ = dir;
    db_ = (dir_ / "records.sqlite").string();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string script = kService.string();
    const std::string url = "sqlite:///" + db_;
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execl(kPython, kPython, script.c_str(), "serve", "--listen", "127.0.0.1:0", "--db", url.c_str(), "--workers", "1",
            "--max-seconds", "60", "--quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    ASSERT_EQ(line.rfind("READY ", 0), 0u) << line;
    port_ = std::atoi(line.c_str() + 6);
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // The stored records' fields in order, each as hexadecimal UTF-8.
  std::vector<std::string> StoredHex() {
    const std::string out = Output(std::string(kPython) +
                                   " -c 'import sqlite3,sys\n"
                                   "for r in sqlite3.connect(sys.argv[1]).execute(\"SELECT user_name, adapter_address, "
                                   "programs_text, network_text, processor_text FROM records ORDER BY id\"):\n"
                                   "  for f in r: print(\"x\" + f.encode(\"utf-8\", \"surrogatepass\").hex())' " +
                                   db_);
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
      fields.push_back(out.substr(start + 1, end - start - 1));  // without the "x"
    return fields;
  }

  fs::path dir_;
  std::string db_;
  pid_t pid_ = -1;
  int port_ = 0;
};

TEST_F(InventoryServicePeer, StoresTheRecordAsSent) {
  const auto setting = ParseServerSetting("127.0.0.1:" + std::to_string(port_));
  ASSERT_TRUE(setting);
  const HttpAnswer wsdl = Http("GET", WsdlUrl(*setting));
  ASSERT_EQ(wsdl.status, 200);
  ASSERT_LE(wsdl.body.size(), kMaxWsdlBytes);
  test::Libxml2Reader wsdlReader(wsdl.body);
  const WsdlResult plan = ReadWsdl(wsdlReader);
  ASSERT_TRUE(plan.ok()) << plan.error;
  EXPECT_EQ(plan.plan->endpoint, "http://127.0.0.1:" + std::to_string(port_) + "/Zelt/pcInventoryD.nsf/savesoftware");
  EXPECT_EQ(plan.plan->style, SoapStyle::Document);

  const std::array<std::string_view, kParameterCount> texts = {
      "J\xC3\xBCrgen M\xC3\xBCller", "00-0C-29-3A-5B-7F",
      "Caf\xC3\xA9 & Co <Setup>$#$A]]>B$#$\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xF0\x9F\x98\x80$#$",
      "", "bad\x01" "byte\xFF$#$  Speed: 100$#$"};
  const SoapRequest request = WriteEnvelope(*plan.plan, texts);
  const HttpAnswer answer = Http("POST", plan.plan->endpoint, request.headers, request.body);
  EXPECT_EQ(answer.status, 200) << answer.body;
  test::Libxml2Reader answerReader(answer.body);
  const SoapResponse response = ReadResponse(answerReader);
  EXPECT_EQ(response.kind, ResponseKind::Accepted) << response.detail << "\n" << answer.body;

  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<std::string> expected = {Hex(texts[0]), Hex(texts[1]), Hex(texts[2]), "",
                                             Hex("bad" + fffd + "byte" + fffd + "$#$  Speed: 100$#$")};
  EXPECT_EQ(StoredHex(), expected);

  // The dump for demonstrations: the fields, the programs one a line.
  const std::string dump = Output(std::string(kPython) + " " + kService.string() + " dump --db sqlite:///" + db_);
  EXPECT_NE(dump.find("  UserName: J\xC3\xBCrgen M\xC3\xBCller\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("    Caf\xC3\xA9 & Co <Setup>\n    A]]>B\n"), std::string::npos) << dump;
}

TEST_F(InventoryServicePeer, AnswersNonsenseWithAFault) {
  const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/Zelt/pcInventoryD.nsf/savesoftware";
  const HttpAnswer answer =
      Http("POST", url, {{"Content-Type", "text/xml; charset=utf-8"}, {"SOAPAction", "\"x\""}},
           "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body><nothing/></s:Body></s:Envelope>");
  EXPECT_NE(answer.status, 200);
  test::Libxml2Reader reader(answer.body);
  const SoapResponse response = ReadResponse(reader);
  EXPECT_EQ(response.kind, ResponseKind::Fault) << answer.body;
  EXPECT_FALSE(response.detail.empty());
  EXPECT_TRUE(StoredHex().empty());
}

}  // namespace
}  // namespace tallowin

#endif  // TALLOWIN_HAVE_LIBXML2
