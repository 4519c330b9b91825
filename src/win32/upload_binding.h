// The inventory upload on Windows: the server setting from the environment
// or the registry, WinHTTP, XmlLite, and the exchange on a worker thread
// while the caller's thread keeps answering its messages.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "control/profile_control.h"
#include "upload/inventory_upload.h"
#include "win32/winhttp_transport.h"

namespace tallowin::win32 {

// The setting (server_source.cpp): an explicit one (the command line's
// --server), else the policy value HKLM\SOFTWARE\Policies\Tallowin\InventoryServer,
// else TALLOWIN_INVENTORY_SERVER, else the installed value
// HKLM\SOFTWARE\Tallowin\InventoryServer (64-bit view, then 32-bit view).
ServerChoice ResolveServer(const std::optional<std::string>& explicitSetting);

// The enrollment secret (secret_source.cpp): EnrollmentSecret under
// HKLM\SOFTWARE\Policies\Tallowin, else under HKLM\SOFTWARE\Tallowin (each
// in the 64-bit view, then the 32-bit one); blanks around it trimmed.
struct SecretChoice {
  std::optional<std::string> secret;  // none: not set
  std::string source;
};
SecretChoice ResolveSecret();

// Starts the exchange's worker thread (std::thread when empty); tests hand in
// one that fails as a system out of threads or memory would.
using StartWorker = std::function<std::thread(std::function<void()>)>;

// Runs the whole upload for the control; pumps messages during the exchange
// when pumpMessages is set (the window), blocks otherwise (the console). When
// no worker can be started nothing is sent and the outcome says why. Tests
// hand in a failing starter or shorter time limits.
UploadOutcome RunInventoryUpload(ProfileControl& control, const std::optional<std::string>& explicitSetting,
                                 bool pumpMessages, const StartWorker& startWorker = {},
                                 const HttpTimeLimits& limits = {});

// Sends a record (and, when the service takes it, the profile) already
// collected to the chosen server, blocking (the scheduled run has no window
// to keep answering).
UploadOutcome SendRecord(const UploadRecord& record, const ServerChoice& choice, const std::string& profile);

// The upload a control in a window runs on Command1 and at its start: the
// setting from the environment or the registry, messages pumped meanwhile.
// The ActiveX object's creator hands it over.
UploadAction WindowUpload();

}  // namespace tallowin::win32
