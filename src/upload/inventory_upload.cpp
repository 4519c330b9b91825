#include "upload/inventory_upload.h"

#include <array>
#include <exception>

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

UploadOutcome SendInventory(const UploadRecord& record, const UploadEnvironment& env) {
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
  const soap::WsdlResult plan = soap::ReadWsdl(*reader);
  if (!plan.ok()) {
    out.message = "not sent: service description " + wsdlUrl + ": " + plan.error;
    return out;
  }
  const std::array<std::string_view, soap::kParameterCount> texts = {
      record.userName, record.adapterAddress, record.programs, record.network, record.processor};
  const soap::SoapRequest request = soap::WriteEnvelope(*plan.plan, texts);
  const HttpResponse answer = env.transport->Post(plan.plan->endpoint, request.headers, request.body,
                                                  soap::kMaxResponseBytes);
  out.sent = true;
  out.status = answer.status;
  const std::string where = plan.plan->endpoint + " (" + versionText(plan.plan->version) + ")";
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

UploadOutcome InventoryUpload(ProfileControl& control, const UploadEnvironment& env) {
  const UploadRecord record = CollectInventory(control);
  control.uploadCollected();
  UploadOutcome out;
  auto exchange = [&] {
    try {
      out = SendInventory(record, env);
    } catch (...) {
      out.message = "not sent: the exchange failed";
    }
  };
  if (!env.runExchange) {
    exchange();
    return out;
  }
  try {
    env.runExchange(exchange);
  } catch (const std::exception& e) {
    // The exchange could not be started (no thread for it): nothing was sent.
    out = UploadOutcome{};
    out.message = std::string("not sent: ") + e.what();
  }
  return out;
}

}  // namespace tallowin
