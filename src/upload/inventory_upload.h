// The software inventory upload: the programs, network and processor sections
// collected into one list, joined, and sent with the user name and the
// adapter address to the inventory service. Every failure is silent in the
// control; the outcome says what happened, for the command line.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "upload/http_transport.h"
#include "upload/server_setting.h"
#include "upload/soap/xml_reader.h"

namespace tallowin {

class ProfileControl;

struct UploadRecord {
  std::string userName;
  std::string adapterAddress;
  std::string programs;
  std::string network;
  std::string processor;
};

struct UploadOutcome {
  bool sent = false;      // the call was made
  bool accepted = false;  // and the service answered without a fault
  std::string message;    // one line: where it went, or why not
  int status = 0;         // the HTTP status of the answer that ended it (0: none)
  // The complete profile's call, made after the record was accepted when the
  // description offers it. Its failure leaves the record accepted.
  bool profileSent = false;
  bool profileAccepted = false;
  std::string profileMessage;  // one line, once the record was accepted: what became of the profile
};

// The complete profile's text, asked for only when it will be sent.
using ProfileSource = std::function<std::string()>;

struct UploadEnvironment {
  std::optional<ServerSetting> server;  // none: no setting, or a malformed one
  std::string settingProblem;           // why there is none, for the message
  // The enrollment secret and the place it was set (none: not set). Sent as
  // a bearer token with both requests, and only ever over https.
  std::optional<std::string> secret;
  std::string secretSource;
  HttpTransport* transport = nullptr;
  std::function<std::unique_ptr<soap::XmlReader>(const std::string&)> makeReader;
  // Runs the network exchange; the window's runs it on a worker thread while
  // the host keeps answering messages. Inline when empty. An exception from
  // it means the exchange never started; its text says why.
  std::function<void(const std::function<void()>&)> runExchange;
};

// Collects the record: the Programs, Network and CPU sections in that order,
// each run into the emptied list, closed with an empty line and kept as its
// text; then the user name ("Unknown" when there is none) and the adapter
// address. The list keeps the processor lines and their empty line.
UploadRecord CollectInventory(ProfileControl& control);

// The complete profile as `tallowin.exe show` prints it, each line (empty
// ones too) followed by "$#$"; collected into a list of its own, so the list
// the window shows and the control's flags stay as they are. Yields as the
// complete profile does; throws DispatchAborted when the control is closed.
std::string CollectProfile(ProfileControl& control);

// Sends the record: reads the service description from the server, writes
// the call's envelope from the five texts and posts it to the endpoint the
// description names (for an https setting, only an https endpoint on the
// setting's host). With a secret and an http setting nothing is sent. Then, when the record was accepted and the description
// offers the profile's operation, the profile from `profile` in a second call.
UploadOutcome SendInventory(const UploadRecord& record, const UploadEnvironment& env,
                            const ProfileSource& profile = {});

// The whole upload; the profile is collected on the caller's thread between
// the two calls.
UploadOutcome InventoryUpload(ProfileControl& control, const UploadEnvironment& env);

}  // namespace tallowin
