#include "upload/inventory_upload.h"

#include <array>
#include <exception>
#include <span>
#include <string_view>

#include "control/profile_control.h"
#include "platform/global.h"
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

CallResult Call(const soap::CallPlan& plan, std::span<const std::string_view> texts, const UploadEnvironment& env) {
  const soap::SoapRequest request = soap::WriteEnvelope(plan, texts);
  const HttpResponse answer = env.transport->Post(plan.endpoint, request.headers, request.body, soap::kMaxResponseBytes);
  CallResult out;
  out.status = answer.status;
  const std::string where = plan.endpoint + " (" + versionText(plan.version) + ")";
  if (!answer.ok) {
    out.message = "sent to " + where + ", no answer: " + answer.error;
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
UploadOutcome SendRecordCall(const UploadRecord& record, const UploadEnvironment& env, soap::WsdlResult& plans) {
  UploadOutcome out;
  if (!env.server) {
    out.message = "not sent: " + (env.settingProblem.empty() ? std::string("no inventory server set") : env.settingProblem);
    return out;
  }
  if (!env.transport || !env.makeReader) {
    out.message = "not sent: no HTTP or XML support on this system";
    return out;
  }
  const std::string wsdlUrl = WsdlUrl(*env.server);
  const HttpResponse wsdl = env.transport->Get(wsdlUrl, soap::kMaxWsdlBytes);
  if (!wsdl.ok) {
    out.message = "not sent: service description " + wsdlUrl + ": " + wsdl.error;
    return out;
  }
  if (wsdl.status != 200) {
    out.status = wsdl.status;
    out.message = "not sent: service description " + wsdlUrl + ": HTTP status " + std::to_string(wsdl.status);
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
  const std::array<std::string_view, soap::kParameterCount> texts = {
      record.userName, record.adapterAddress, record.programs, record.network, record.processor};
  const CallResult call = Call(*plans.plan, texts, env);
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
                     const UploadEnvironment& env, UploadOutcome& out) {
  const std::array<std::string_view, soap::kProfileParameterCount> texts = {record.userName, record.adapterAddress,
                                                                           profile};
  const CallResult call = Call(plan, texts, env);
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
  UploadOutcome out = SendRecordCall(record, env, plans);
  if (!ProfileWanted(out, plans)) return out;
  if (!profile) {
    out.profileMessage = "profile not sent: it was not collected";
    return out;
  }
  SendProfileCall(record, profile(), *plans.profilePlan, env, out);
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
  const std::string notStarted = run([&] {
    try {
      out = SendRecordCall(record, env, plans);
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
      SendProfileCall(record, profile, *plans.profilePlan, env, out);
    } catch (...) {
      out.profileMessage = "profile not sent: the exchange failed";
    }
  });
  if (!profileNotStarted.empty()) out.profileMessage = "profile not sent: " + profileNotStarted;
  return out;
}

}  // namespace tallowin
