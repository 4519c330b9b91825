#include "win32/win.h"

#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "control/profile_control.h"
#include "platform/registry.h"
#include "win32/handles.h"
#include "win32/message_pump.h"
#include "win32/module.h"
#include "win32/upload_binding.h"
#include "win32/wide.h"
#include "win32/win_platform.h"
#include "win32/winhttp_transport.h"
#include "win32/xmllite_reader.h"

namespace tallowin::win32 {

namespace {

// The exchange on a thread of its own; this thread answers its messages until
// the worker is done. The worker is always joined before this returns. When
// no worker can be started this throws, with nothing left behind.
void runOnWorker(const std::function<void()>& work, WinHttpTransport& transport, const ProfileControl& control,
                 const StartWorker& startWorker) {
  // std::thread's native handle is no Windows handle under every runtime:
  // the worker says it is done through an event of its own.
  UniqueHandle finished(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!finished)
    throw std::runtime_error("no event for the exchange's worker: error " + std::to_string(::GetLastError()));
  // The worker holds the module: an ocx is never unloaded under it.
  std::function<void()> body = [&work, done = finished.get()] {
    ModuleLock hold;
    work();
    ::SetEvent(done);
  };
  std::thread worker;
  try {
    worker = startWorker ? startWorker(std::move(body)) : std::thread(std::move(body));
  } catch (const std::system_error& e) {
    throw std::runtime_error(std::string("the exchange's worker thread could not be started: ") + e.code().message());
  }
  if (!worker.joinable()) throw std::runtime_error("the exchange's worker thread could not be started");
  HANDLE waitOn = finished.get();
  bool quitting = false;
  bool cancelled = false;
  for (;;) {
    const DWORD w = quitting ? ::WaitForSingleObject(waitOn, INFINITE)
                             : ::MsgWaitForMultipleObjects(1, &waitOn, FALSE, INFINITE, QS_ALLINPUT);
    if (w != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The host is closing: end the request now and keep the quit for later.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        transport.Cancel();
        quitting = true;
        break;
      }
      DispatchPumped(msg);
    }
    // The control's owner let it go under the upload: nobody waits for its
    // answer. (A window merely deactivated does not end it.)
    if (!cancelled && control.closed()) {
      transport.Cancel();
      cancelled = true;
    }
  }
  worker.join();
}

UploadEnvironment environment(const ServerChoice& choice, WinHttpTransport& transport) {
  UploadEnvironment env;
  env.server = choice.server;
  env.settingProblem = choice.problem;
  SecretChoice secret = ResolveSecret();
  env.secret = std::move(secret.secret);
  env.secretSource = std::move(secret.source);
  env.transport = &transport;
  env.makeReader = [](const std::string& doc) { return MakeXmlLiteReader(doc); };
  return env;
}

}  // namespace

UploadOutcome RunInventoryUpload(ProfileControl& control, const std::optional<std::string>& explicitSetting,
                                 bool pumpMessages, const StartWorker& startWorker, const HttpTimeLimits& limits) {
  const ServerChoice choice = ResolveServer(explicitSetting);
  WinHttpTransport transport(limits);
  UploadEnvironment env = environment(choice, transport);
  if (pumpMessages)
    env.runExchange = [&transport, &control, &startWorker](const std::function<void()>& work) {
      runOnWorker(work, transport, control, startWorker);
    };
  return InventoryUpload(control, env);
}

UploadOutcome SendRecord(const UploadRecord& record, const ServerChoice& choice, const std::string& profile) {
  WinHttpTransport transport;
  try {
    return SendInventory(record, environment(choice, transport), [&profile] { return profile; });
  } catch (...) {
    UploadOutcome out;
    out.message = "not sent: the exchange failed";
    return out;
  }
}

UploadAction WindowUpload() {
  return [](ProfileControl& control) { RunInventoryUpload(control, std::nullopt, true); };
}

}  // namespace tallowin::win32
