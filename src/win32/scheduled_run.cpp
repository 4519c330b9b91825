#include "win32/win.h"

#include <bcrypt.h>

#include <charconv>
#include <ctime>

#include "control/profile_control.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "win32/handles.h"
#include "win32/scheduled_run.h"
#include "win32/upload_binding.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

// Per user: the record carries the user's name, and the account the task
// runs as may always write its own hive.
constexpr char kStateKey[] = "Software\\Tallowin\\Scheduled";

std::optional<int64_t> number(const RegValue& v) {
  if (const auto* n = std::get_if<int32_t>(&v)) return *n;
  const std::string text = Trim(std::get<std::string>(v));
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

ScheduleSource source(const std::string& name, uint32_t root, const char* path, RegView view) {
  auto read = [&](const char* value) {
    return number(GetRegValue(SystemPlatform(), root, path, value, std::string(), view));
  };
  return {name, read("ScheduledInventory"), read("ScheduleIntervalHours"), read("ScheduleMaxDelayMinutes")};
}

ScheduleState readState() {
  auto text = [](const char* name) {
    return RegValueText(GetRegValue(SystemPlatform(), kHKeyCurrentUser, kStateKey, name, std::string()));
  };
  ScheduleState s;
  s.acceptedAt = number(text("LastAccepted")).value_or(0);
  s.acceptedDigest = text("AcceptedDigest");
  s.attemptAt = number(text("LastAttempt")).value_or(0);
  s.attemptOutcome = text("LastOutcome");
  return s;
}

void writeState(const ScheduleState& s) {
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(kStateKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS)
    return;  // nowhere to keep it: the next run sends again, which is harmless
  UniqueKey key(raw);
  auto set = [&](const wchar_t* name, const std::string& value) {
    const std::wstring w = Wide(value);
    ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(w.c_str()),
                     static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
  };
  set(L"LastAccepted", std::to_string(s.acceptedAt));
  set(L"AcceptedDigest", s.acceptedDigest);
  set(L"LastAttempt", std::to_string(s.attemptAt));
  set(L"LastOutcome", s.attemptOutcome);
}

int64_t now() { return static_cast<int64_t>(std::time(nullptr)); }

std::string localTime(int64_t t) {
  const auto tt = static_cast<time_t>(t);
  tm local{};
  if (localtime_s(&local, &tt) != 0) return std::to_string(t);
  char text[32];
  return strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) ? text : std::to_string(t);
}

uint32_t randomNumber() {
  uint32_t r = 0;
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&r), sizeof r,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    r = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);  // still spread across PCs
  return r;
}

}  // namespace

ScheduleSettings ReadScheduleSettings() {
  constexpr char kPolicy[] = "SOFTWARE\\Policies\\Tallowin";
  constexpr char kPackage[] = "SOFTWARE\\Tallowin";
  return ChooseSchedule({
      source("policy (HKLM\\SOFTWARE\\Policies\\Tallowin)", kHKeyLocalMachine, kPolicy, RegView::Bits64),
      source("policy (HKLM\\SOFTWARE\\Policies\\Tallowin, 32-bit view)", kHKeyLocalMachine, kPolicy, RegView::Bits32),
      source("package (HKLM\\SOFTWARE\\Tallowin)", kHKeyLocalMachine, kPackage, RegView::Bits64),
      source("package (HKLM\\SOFTWARE\\Tallowin, 32-bit view)", kHKeyLocalMachine, kPackage, RegView::Bits32),
  });
}

std::string RunScheduledUpload() {
  // No system dialog either (a missing disk, a crash report): nobody may be
  // there to answer it.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  const ScheduleSettings settings = ReadScheduleSettings();
  ScheduleState state = readState();
  if (settings.enabled) ::Sleep(ScheduledDelaySeconds(settings, randomNumber()) * 1000U);
  UploadRecord record;
  ServerChoice choice;
  std::string profile;
  std::string digest;
  if (settings.enabled) {
    ProfileControl control(SystemPlatform());
    record = CollectInventory(control);
    // Collected before it is known whether the service takes it: "unchanged"
    // must cover the profile too.
    profile = CollectProfile(control);
    choice = ResolveServer(std::nullopt);
    digest = RecordDigest(record, choice.server ? WsdlUrl(*choice.server) : std::string(), profile);
  }
  const SendDecision decision = DecideSend(settings, state, digest, now());
  const UploadOutcome outcome = decision.send ? SendRecord(record, choice, profile) : UploadOutcome{};
  state = AfterRun(state, decision, outcome, digest, now());
  writeState(state);
  return state.attemptOutcome;
}

std::vector<std::string> StatusLines() {
  StatusFacts facts;
  facts.server = ResolveServer(std::nullopt);
  facts.secretSource = ResolveSecret().source;
  facts.taskName = ScheduledTaskName();
  facts.taskRegistered = ScheduledTaskRegistered();
  facts.settings = ReadScheduleSettings();
  facts.state = readState();
  facts.attemptTime = localTime(facts.state.attemptAt);
  facts.acceptedTime = localTime(facts.state.acceptedAt);
  return ScheduleStatusLines(facts);
}

}  // namespace tallowin::win32
