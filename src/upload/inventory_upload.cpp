#include "upload/inventory_upload.h"

#include <array>
#include <exception>
#include <span>
#include <string_view>

#include "control/profile_control.h"
#include "platform/global.h"
#include "platform/text.h"
#include "upload/adapter_mac.h"
#include "upload/section_text.h"
#include "upload/soap/envelope.h"
#include "upload/soap/wsdl.h"

namespace tallowin {

namespace {

std::string collectSection(ProfileControl& control, const char* key) {
  control.list().clear();
  control.runSection(key);
  control.list().append("");
  return SectionText(control.list());
}

std::string versionText(soap::SoapVersion v) { return v == soap::SoapVersion::Soap12 ? "SOAP 1.2" : "SOAP 1.1"; }

// What the service's answer to a missing or wrong enrollment secret means.
std::string secretRefusal(int status) {
  if (status == 401) return "refused: the service wants an enrollment secret";
  if (status == 403) return "refused: the enrollment secret is not accepted";
  return {};
}

// The secret becomes a header line: visible ASCII only, or a line break in
// it would write headers of its own.
bool headerSafe(const std::string& text) {
  for (const char c : text)
    if (c < 0x21 || c > 0x7E) return false;
  return !text.empty();
}

// Why the endpoint a description names is refused for an https setting
// (empty: it is not): the call goes over https to the setting's host, or
// nowhere, so that neither a spoofed description nor a mistaken one gets
// the record or the secret in clear text or elsewhere.
std::string endpointProblem(const ServerSetting& server, std::string_view endpoint) {
  const std::string shown = "the service description sends the call to \"" +
                            std::string(endpoint.substr(0, 200)) + (endpoint.size() > 200 ? "...\"" : "\"");
  const size_t sep = endpoint.find("://");
  if (sep == std::string_view::npos || ToUpperAscii(endpoint.substr(0, sep)) != "HTTPS")
    return shown + ", not to an https address (the server setting is https)";
  std::string_view authority = endpoint.substr(sep + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  std::string_view host;
  if (authority.find('@') == std::string_view::npos) {  // user information would hide the host
    if (!authority.empty() && authority.front() == '[') {
      const size_t close = authority.find(']');
      if (close != std::string_view::npos) host = authority.substr(1, close - 1);
    } else {
      host = authority.substr(0, authority.find(':'));
    }
  }
  if (host.empty() || ToUpperAscii(host) != ToUpperAscii(server.host))
    return shown + ", not to " + server.host + " (the server setting's host)";
  return {};
}

}  // namespace

UploadRecord CollectInventory(ProfileControl& control) {
  UploadRecord r;
  r.programs = collectSection(control, "PROGS");
  r.network = collectSection(control, "NETWORK");
  r.processor = collectSection(control, "CPU");
  Platform& p = control.platform();
  try {
    r.userName = Trim(TrimNull(p.GetUserName()));
  } catch (...) {
    r.userName.clear();
  }
  if (r.userName.empty()) r.userName = "Unknown";
  try {
    r.adapterAddress = GetAdapterMac(p);
  } catch (...) {
    r.adapterAddress.clear();
  }
  return r;
}

namespace {

// What one call came to.
struct CallResult {
  bool accepted = false;
  int status = 0;
  std::string message;  // "sent to ...: ..."
};

CallResult Call(const soap::CallPlan& plan, std::span<const std::string_view> texts, const HttpHeaders& secretHeaders,
                const UploadEnvironment& env) {
  soap::SoapRequest request = soap::WriteEnvelope(plan, texts);
  request.headers.insert(request.headers.end(), secretHeaders.begin(), secretHeaders.end());
  const HttpResponse answer = env.transport->Post(plan.endpoint, request.headers, request.body, soap::kMaxResponseBytes);
  CallResult out;
  out.status = answer.status;
  const std::string where = plan.endpoint + " (" + versionText(plan.version) + ")";
  if (!answer.ok) {
    out.message = "sent to " + where + ", no answer: " + answer.error;
    return out;
  }
  if (const std::string refused = secretRefusal(answer.status); !refused.empty()) {
    out.message = "sent to " + where + ": " + refused;
    return out;
  }
  std::unique_ptr<soap::XmlReader> answerReader = env.makeReader(answer.body);
  const soap::SoapResponse response =
      answerReader ? soap::ReadResponse(*answerReader) : soap::SoapResponse{soap::ResponseKind::Invalid, "no XML reader"};
  if (response.accepted() && answer.status >= 200 && answer.status < 300) {
    out.accepted = true;
    out.message = "sent to " + where + ": accepted";
  } else if (response.kind == soap::ResponseKind::Fault) {
    out.message = "sent to " + where + ": refused with a fault: " + response.detail;
  } else {
    out.message = "sent to " + where + ": HTTP status " + std::to_string(answer.status) +
                  (response.detail.empty() ? std::string() : ", " + response.detail);
  }
  return out;
}

// The first call, from the description to the answer; `plans` keeps what
// the description offers for the second.
UploadOutcome SendRecordCall(const UploadRecord& record, const UploadEnvironment& env, soap::WsdlResult& plans,
                             HttpHeaders& secretHeaders) {
  UploadOutcome out;
  if (!env.server) {
    out.message = "not sent: " + (env.settingProblem.empty() ? std::string("no inventory server set") : env.settingProblem);
    return out;
  }
  if (!env.transport || !env.makeReader) {
    out.message = "not sent: no HTTP or XML support on this system";
    return out;
  }
  if (env.secret) {
    if (!env.server->secure) {
      out.message = "not sent: an enrollment secret is set (" + env.secretSource +
                    ") and it goes only over https, but the server setting is http (" + HostPort(*env.server) +
                    "); set https://HOST[:PORT]";
      return out;
    }
    if (!headerSafe(*env.secret)) {
      out.message = "not sent: the enrollment secret (" + env.secretSource +
                    ") holds a blank, a control character or a character outside ASCII";
      return out;
    }
    secretHeaders.emplace_back("Authorization", "Bearer " + *env.secret);
  }
  const std::string wsdlUrl = WsdlUrl(*env.server);
  const HttpResponse wsdl = env.transport->GetWithHeaders(wsdlUrl, secretHeaders, soap::kMaxWsdlBytes);
  if (!wsdl.ok) {
    out.message = "not sent: service description " + wsdlUrl + ": " + wsdl.error;
    return out;
  }
  if (wsdl.status != 200) {
    out.status = wsdl.status;
    const std::string refused = secretRefusal(wsdl.status);
    out.message = "not sent: service description " + wsdlUrl + ": " +
                  (refused.empty() ? "HTTP status " + std::to_string(wsdl.status) : refused);
    return out;
  }
  std::unique_ptr<soap::XmlReader> reader = env.makeReader(wsdl.body);
  if (!reader) {
    out.message = "not sent: no XML reader";
    return out;
  }
  plans = soap::ReadWsdl(*reader);
  if (!plans.ok()) {
    out.message = "not sent: service description " + wsdlUrl + ": " + plans.error;
    return out;
  }
  if (env.server->secure) {
    const std::string problem = endpointProblem(*env.server, plans.plan->endpoint);
    if (!problem.empty()) {
      out.message = "not sent: " + problem;
      return out;
    }
  }
  const std::array<std::string_view, soap::kParameterCount> texts = {
      record.userName, record.adapterAddress, record.programs, record.network, record.processor};
  const CallResult call = Call(*plans.plan, texts, secretHeaders, env);
  out.sent = true;
  out.accepted = call.accepted;
  out.status = call.status;
  out.message = call.message;
  // A record not accepted: its line says all (the profile follows only an accepted one).
  if (!out.accepted) return out;
  if (!plans.profilePlan && plans.profileError.empty())
    out.profileMessage = std::string("profile not sent: the service does not take it (its description has no ") +
                         soap::kProfileOperationName + ")";
  else if (!plans.profilePlan) out.profileMessage = "profile not sent: " + plans.profileError;
  return out;
}

bool ProfileWanted(const UploadOutcome& out, const soap::WsdlResult& plans) {
  return out.accepted && plans.profilePlan.has_value();
}

void SendProfileCall(const UploadRecord& record, const std::string& profile, const soap::CallPlan& plan,
                     const HttpHeaders& secretHeaders, const UploadEnvironment& env, UploadOutcome& out) {
  const std::array<std::string_view, soap::kProfileParameterCount> texts = {record.userName, record.adapterAddress,
                                                                           profile};
  const CallResult call = Call(plan, texts, secretHeaders, env);
  out.profileSent = true;
  out.profileAccepted = call.accepted;
  out.profileMessage = "profile " + call.message;
}

}  // namespace

std::string CollectProfile(ProfileControl& control) {
  ReportList list;
  VersionFlags flags;
  std::vector<InterfaceAddress> addresses;
  bool progress = false;
  control.runCompleteProfile(list, {flags, addresses, progress});
  return ProfileText(list);
}

UploadOutcome SendInventory(const UploadRecord& record, const UploadEnvironment& env, const ProfileSource& profile) {
  soap::WsdlResult plans;
  HttpHeaders secretHeaders;
  UploadOutcome out = SendRecordCall(record, env, plans, secretHeaders);
  if (!ProfileWanted(out, plans)) return out;
  if (!profile) {
    out.profileMessage = "profile not sent: it was not collected";
    return out;
  }
  SendProfileCall(record, profile(), *plans.profilePlan, secretHeaders, env, out);
  return out;
}

UploadOutcome InventoryUpload(ProfileControl& control, const UploadEnvironment& env) {
  const UploadRecord record = CollectInventory(control);
  control.uploadCollected();
  // Each network step on the exchange's thread (or inline); an exception
  // from runExchange means the step never started, and says why.
  const auto run = [&env](const std::function<void()>& step) -> std::string {
    if (!env.runExchange) {
      step();
      return {};
    }
    try {
      env.runExchange(step);
    } catch (const std::exception& e) {
      return e.what();
    }
    return {};
  };
  UploadOutcome out;
  soap::WsdlResult plans;
  HttpHeaders secretHeaders;
  const std::string notStarted = run([&] {
    try {
      out = SendRecordCall(record, env, plans, secretHeaders);
    } catch (...) {
      out.message = "not sent: the exchange failed";
    }
  });
  if (!notStarted.empty()) {
    // No thread for it: nothing was sent.
    out = UploadOutcome{};
    out.message = "not sent: " + notStarted;
    return out;
  }
  if (!ProfileWanted(out, plans)) return out;
  std::string profile;
  try {
    profile = CollectProfile(control);
  } catch (const DispatchAborted&) {
    out.profileMessage = "profile not sent: the control was closed";
    return out;
  }
  const std::string profileNotStarted = run([&] {
    try {
      SendProfileCall(record, profile, *plans.profilePlan, secretHeaders, env, out);
    } catch (...) {
      out.profileMessage = "profile not sent: the exchange failed";
    }
  });
  if (!profileNotStarted.empty()) out.profileMessage = "profile not sent: " + profileNotStarted;
  return out;
}

}  // namespace tallowin
