// bench_upload HOST:PORT REPS OUTDIR: times the collection (programs, network,
// processor) and the exchange (the service description fetched, the call
// made) apart, best and median of REPS, and writes the last request's body
// and headers to OUTDIR so that curl can repeat the same two requests.
#include "win32/win.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "control/profile_control.h"
#include "upload/inventory_upload.h"
#include "upload/soap/envelope.h"
#include "upload/soap/wsdl.h"
#include "win32/win_platform.h"
#include "win32/winhttp_transport.h"
#include "win32/xmllite_reader.h"

using namespace tallowin;

namespace {

double nowMs() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-28s best %8.2f ms   median %8.2f ms\n", what, ms.front(), ms[ms.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_upload HOST:PORT REPS OUTDIR\n");
    return 2;
  }
  const auto server = ParseServerSetting(argv[1]);
  const int reps = std::max(1, atoi(argv[2]));
  const std::string out = argv[3];
  if (!server) return 2;
  ProfileControl control(win32::SystemPlatform());
  win32::WinHttpTransport http;
  UploadEnvironment env;
  env.server = server;
  env.transport = &http;
  env.makeReader = [](const std::string& d) { return win32::MakeXmlLiteReader(d); };
  std::vector<double> collect, exchange;
  UploadRecord record;
  for (int i = 0; i < reps; ++i) {
    const double t0 = nowMs();
    record = CollectInventory(control);
    const double t1 = nowMs();
    const UploadOutcome o = SendInventory(record, env);
    const double t2 = nowMs();
    if (!o.accepted) {
      std::fprintf(stderr, "not accepted: %s\n", o.message.c_str());
      return 1;
    }
    collect.push_back(t1 - t0);
    exchange.push_back(t2 - t1);
  }
  report("collection", collect);
  report("exchange (GET + POST)", exchange);
  // The same request for curl.
  const HttpResponse wsdl = http.Get(WsdlUrl(*server), soap::kMaxWsdlBytes);
  auto reader = win32::MakeXmlLiteReader(wsdl.body);
  const soap::WsdlResult plan = soap::ReadWsdl(*reader);
  if (!plan.ok()) return 1;
  const soap::SoapRequest req = soap::WriteEnvelope(
      *plan.plan, {record.userName, record.adapterAddress, record.programs, record.network, record.processor});
  std::ofstream(out + "/request.xml", std::ios::binary) << req.body;
  std::ofstream headers(out + "/headers.txt", std::ios::binary);
  for (const auto& [n, v] : req.headers) headers << n << ": " << v << "\n";
  std::ofstream(out + "/endpoint.txt", std::ios::binary) << plan.plan->endpoint << "\n" << WsdlUrl(*server) << "\n";
  return 0;
}
