// Delivery of analytics records through quillon_pc.exe under conditions
// users' machines bring: a temporary folder named outside the ANSI code page,
// a Chinese code page, a server that answers 404 or 401 for a while, a
// scanner holding the staging file open, a nearly full volume, an office
// network whose only way out is the proxy named in the user's Internet
// Settings. Whatever the condition, a tracked record must reach the server
// and must not flood it.
//
// Two cases need the CTest run (tests/analytics_plugin/CMakeLists.txt): the
// code page 936 case gets its Unix locale there (Wine gives a Windows
// process the code page of the Unix locale it was started under; the
// environment block passed to CreateProcess does not change it), and the
// nearly full volume is a small tmpfs its fixture mounts. The proxy cases
// need the forward proxy of the CTest fixture too.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/analytics_plugin/end_to_end_fixture.h"
#include "tests/support/collection_server.h"
#include "tests/support/program_run.h"

namespace {

using analytics_e2e::EventCounts;
using analytics_e2e::MethodReplies;
using analytics_e2e::MethodReply;
using test_support::Lines;
using test_support::ProgramOptions;
using test_support::ProgramPath;
using test_support::ProgramRun;
using test_support::ReadText;

constexpr char kTimeout[] = "reply-timeout 20000\n";
constexpr char kFlush[] = "method analytics_plugin flush\n";
constexpr int kBatchSize = 30;

// "trackEvent" steps for the events e0 ... e<count - 1>, each with a filler
// property of |padding| bytes.
std::string TrackSteps(int count, size_t padding = 0) {
  const std::string properties = padding == 0
                                     ? std::string()
                                     : ", \"properties\": {\"filler\": \"" +
                                           std::string(padding, 'x') + "\"}";
  std::string steps;
  for (int i = 0; i < count; ++i) {
    steps += "method analytics_plugin trackEvent {\"eventName\": \"e" +
             std::to_string(i) + "\"" + properties + "}\n";
  }
  return steps;
}

// What is wrong with |records| as the delivery of a run that tracked the
// install event and e0 ... e<count - 1>: how many records arrived fewer than
// |least| or more than |most| times or were never tracked, with the first
// few of them. Empty when nothing is.
std::string DeliveryProblems(const std::vector<std::string>& records, int count,
                             int least, int most) {
  std::map<std::string, int> arrived = EventCounts(records);
  std::vector<std::string> tracked = {"AppInstall"};
  for (int i = 0; i < count; ++i) tracked.push_back("e" + std::to_string(i));
  std::vector<std::string> problems;
  for (const std::string& name : tracked) {
    const int times = arrived[name];
    if (times < least || times > most) {
      problems.push_back(name + " arrived " + std::to_string(times) + " times");
    }
    arrived.erase(name);
  }
  for (const auto& other : arrived) {
    problems.push_back("untracked \"" + other.first + "\" arrived " +
                       std::to_string(other.second) + " times");
  }
  if (problems.empty()) return std::string();
  std::string text = std::to_string(problems.size()) + " wrong:";
  for (size_t i = 0; i < problems.size() && i < 5; ++i) {
    text += " " + problems[i] + ";";
  }
  return text;
}

std::vector<std::string> Outcomes(const std::string& transcript,
                                  const std::string& method) {
  std::vector<std::string> outcomes;
  for (const MethodReply& reply : MethodReplies(transcript)) {
    if (reply.method == method) outcomes.push_back(reply.outcome);
  }
  return outcomes;
}

class FieldConditionsTest : public analytics_e2e::EndToEndTest {};

// --- The temporary folder's name ---------------------------------------------

struct FolderCase {
  const char* label;
  const wchar_t* folder;
  unsigned code_page;
  // Whether the folder's name converts to the code page without loss.
  bool fits;
};

// Names the case in test names (CTest's among them) instead of its bytes.
void PrintTo(const FolderCase& given, std::ostream* out) {
  *out << given.label;
}

class TemporaryFolderNameTest : public FieldConditionsTest,
                                public testing::WithParamInterface<FolderCase> {
};

TEST_P(TemporaryFolderNameTest, RecordsArriveOnceAndTheFlushSucceeds) {
  const FolderCase& given = GetParam();
  temp_ = folder_ / given.folder;
  std::filesystem::create_directories(temp_);

  // Started as quillon_pc.exe is: the case holds only if the program runs
  // under the code page it is about.
  ProgramOptions probe_options = Options(std::string());
  probe_options.program = ProgramPath(L"code_page_probe.exe");
  ProgramRun probe(probe_options);
  ASSERT_TRUE(probe.started()) << probe.start_error();
  ASSERT_EQ(probe.Wait(), 0);
  const std::vector<std::string> probed = Lines(probe.Errors());
  ASSERT_EQ(probed,
            std::vector<std::string>{"acp " + std::to_string(given.code_page) +
                                     " temp-fits " + (given.fits ? "1" : "0")})
      << "not the case's code page (CTest starts the 936 case under "
         "zh_CN.UTF-8)";

  const std::string transcript =
      Run(kTimeout + InitializeStep() + TrackSteps(3) + kFlush + "destroy\n");
  EXPECT_EQ(Outcomes(transcript, "flush"),
            std::vector<std::string>{"success true"})
      << transcript;
  EXPECT_EQ(DeliveryProblems(server_->Records(), 3, 1, 1), "") << transcript;
}

INSTANTIATE_TEST_SUITE_P(
    Field, TemporaryFolderNameTest,
    testing::Values(
        FolderCase{"OutsideCodePage1252",
                   L"Temp-\u7528\u6237-\u03a9\u03bb-\U0001F600", 1252, false},
        // The case name is what tests/analytics_plugin/CMakeLists.txt looks
        // for to start the test under a Chinese locale.
        FolderCase{"ChineseUnderCodePage936", L"\u5f20\u4f1f", 936, true}),
    [](const testing::TestParamInfo<FolderCase>& info) {
      return std::string(info.param.label);
    });

// --- A server that refuses every upload for a while --------------------------

// A 404 or 401 says the address or the credentials are wrong, not the
// records: they wait for the server to come back.
class RefusingServerTest : public FieldConditionsTest,
                           public testing::WithParamInterface<int> {};

TEST_P(RefusingServerTest, NothingIsDroppedAndALaterFlushDeliversEverything) {
  ASSERT_TRUE(server_->AnswerStatus(GetParam(), "refused"));
  int uploads_refused = 0;
  const std::string transcript = RunWithPause(
      kTimeout + InitializeStep() + TrackSteps(5) + kFlush,
      [&] {
        uploads_refused = server_->Stats().uploads;
        EXPECT_TRUE(server_->Configure(test_support::UploadBehaviour()));
      },
      std::string(kFlush) + "destroy\n");
  EXPECT_GE(uploads_refused, 1) << "the refusal was never met";
  EXPECT_EQ(Outcomes(transcript, "flush"),
            (std::vector<std::string>{"success false", "success true"}))
      << transcript;
  EXPECT_EQ(DeliveryProblems(server_->Records(), 5, 1, 1), "") << transcript;
}

INSTANTIATE_TEST_SUITE_P(Field, RefusingServerTest, testing::Values(404, 401));

// --- Another process holds the staging file ----------------------------------

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// A backup agent or virus scanner reading the staging file shares reading and
// writing but not deletion, so the file can be appended to but not replaced
// while it is open. The flush meanwhile must not hammer the server, and the
// records must all go out once the file is free.
TEST_F(FieldConditionsTest, AHeldStagingFileCausesNoUploadFlood) {
  constexpr int kEvents = 40;
  UniqueHandle held(CreateFileW(StagingPath().c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_NE(held.get(), INVALID_HANDLE_VALUE) << GetLastError();
  int uploads_while_held = 0;
  const std::string transcript = RunWithPause(
      kTimeout + InitializeStep() + TrackSteps(kEvents) + kFlush,
      [&] {
        uploads_while_held = server_->Stats().uploads;
        held.reset();
      },
      std::string(kFlush) + "destroy\n");
  EXPECT_LE(uploads_while_held, 5);
  const std::vector<std::string> flushes = Outcomes(transcript, "flush");
  ASSERT_EQ(flushes.size(), 2u) << transcript;
  EXPECT_TRUE(flushes[0] == "success true" || flushes[0] == "success false")
      << flushes[0];
  EXPECT_EQ(flushes[1], "success true");
  EXPECT_EQ(DeliveryProblems(server_->Records(), kEvents, 1, 2), "")
      << transcript;
}

// --- A nearly full volume ----------------------------------------------------

// The folder the CTest fixture mounted a small tmpfs on, as a Windows path;
// empty, with the reason in |why|, when there is none.
std::filesystem::path FullVolumeFolder(std::string* why) {
  char unix_path[1024] = {};
  const DWORD length =
      GetEnvironmentVariableA("QUILLON_FULL_VOLUME", unix_path, 1024);
  if (length == 0 || length >= 1024) {
    *why = "QUILLON_FULL_VOLUME names no folder: the CTest fixture mounts it";
    return {};
  }
  using DosFileName = WCHAR*(CDECL*)(const char*);
  const auto dos_file_name =
      reinterpret_cast<DosFileName>(reinterpret_cast<void (*)()>(GetProcAddress(
          GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (dos_file_name == nullptr) {
    *why = "not running under Wine, which the mounted folder is for";
    return {};
  }
  WCHAR* name = dos_file_name(unix_path);
  if (name == nullptr) {
    *why = std::string("Wine has no name for ") + unix_path;
    return {};
  }
  const std::filesystem::path folder(name);
  HeapFree(GetProcessHeap(), 0, name);
  // The fixture writes "mounted" there, or why it could not mount.
  const std::string status = ReadText(folder.wstring() + L".status");
  if (status.rfind("mounted", 0) != 0) {
    *why = "no small volume: " + status;
    return {};
  }
  return folder;
}

// The staging file fills the volume, so no copy of it fits beside it: every
// rewrite of the file fails. Each batch may then go out again, but not over
// and over.
TEST_F(FieldConditionsTest, ANearlyFullVolumeCausesNoUploadFlood) {
  std::string why;
  const std::filesystem::path volume = FullVolumeFolder(&why);
  if (volume.empty()) GTEST_SKIP() << why;
  for (const auto& entry : std::filesystem::directory_iterator(volume)) {
    std::filesystem::remove_all(entry.path());
  }
  temp_ = volume;

  // About 110 of these records fill the 64 KiB volume.
  constexpr int kEvents = 120;
  size_t staged = 0;
  const std::string transcript = RunWithPause(
      kTimeout + InitializeStep() + TrackSteps(kEvents, 300),
      [&] {
        const std::string text = ReadText(StagingPath().wstring());
        staged = Lines(text).size();
        ULARGE_INTEGER free_bytes{};
        ASSERT_TRUE(
            GetDiskFreeSpaceExW(temp_.c_str(), &free_bytes, nullptr, nullptr));
        ASSERT_LT(free_bytes.QuadPart, text.size())
            << "a copy of the staging file still fits: the volume is not full";
      },
      std::string(kFlush) + "destroy\n");
  ASSERT_GT(staged, 0u) << transcript;
  const int batches = static_cast<int>((staged + kBatchSize - 1) / kBatchSize);
  EXPECT_LE(server_->Stats().uploads, batches + 5)
      << batches << " batches of " << staged << " staged records";
  EXPECT_EQ(Outcomes(transcript, "flush").size(), 1u) << transcript;
  // What was staged (the install event and the first events) goes out
  // although the file cannot shrink; what did not fit waits in memory.
  EXPECT_EQ(
      DeliveryProblems(server_->Records(), static_cast<int>(staged) - 1, 1, 2),
      "");
}

// --- The proxy of the user's Internet Settings
// --------------------------------

constexpr wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kConnections[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
    L"Settings\\Connections";

// One registry value of the current user, as it was before the test.
struct SavedValue {
  SavedValue(const wchar_t* key_path, const wchar_t* value_name)
      : key(key_path), name(value_name) {}
  const wchar_t* key;
  const wchar_t* name;
  bool existed = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// The proxy settings of the user in the test's Wine prefix, replaced for a
// test and put back afterwards: the prefix outlives the test.
class InternetSettingsOverride {
 public:
  InternetSettingsOverride() {
    for (SavedValue& value : saved_) {
      DWORD size = 0;
      value.existed =
          RegGetValueW(HKEY_CURRENT_USER, value.key, value.name, RRF_RT_ANY,
                       &value.type, nullptr, &size) == ERROR_SUCCESS;
      value.data.resize(size);
      if (value.existed && size != 0) {
        RegGetValueW(HKEY_CURRENT_USER, value.key, value.name, RRF_RT_ANY,
                     nullptr, value.data.data(), &size);
      }
    }
  }
  ~InternetSettingsOverride() {
    for (const SavedValue& value : saved_) {
      if (value.existed) {
        Write(value.key, value.name, value.type, value.data);
      } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, value.key, value.name);
      }
    }
  }
  InternetSettingsOverride(const InternetSettingsOverride&) = delete;
  InternetSettingsOverride& operator=(const InternetSettingsOverride&) = delete;

  // A manual proxy, switched on or off, as the settings page leaves it.
  bool Set(bool enabled, const std::string& server, const std::string& bypass) {
    const DWORD enable = enabled ? 1 : 0;
    const std::vector<BYTE> flag(reinterpret_cast<const BYTE*>(&enable),
                                 reinterpret_cast<const BYTE*>(&enable + 1));
    return Write(kInternetSettings, L"ProxyEnable", REG_DWORD, flag) &&
           Write(kInternetSettings, L"ProxyServer", REG_SZ, WideText(server)) &&
           Write(kInternetSettings, L"ProxyOverride", REG_SZ,
                 WideText(bypass)) &&
           Write(kConnections, L"DefaultConnectionSettings", REG_BINARY,
                 ConnectionRecord(enabled, server, bypass));
  }

 private:
  static std::vector<BYTE> WideText(const std::string& ascii) {
    const std::wstring wide(ascii.begin(), ascii.end());
    const auto* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
    return std::vector<BYTE>(bytes,
                             bytes + (wide.size() + 1) * sizeof(wchar_t));
  }

  // The binary record Windows keeps beside the values: a version, a change
  // counter, the flags (1 direct, 2 manual proxy), then the proxy, the bypass
  // list and the script address, each as a length and ANSI text.
  static std::vector<BYTE> ConnectionRecord(bool enabled,
                                            const std::string& server,
                                            const std::string& bypass) {
    std::vector<BYTE> record;
    const auto put = [&record](uint32_t word) {
      for (int shift = 0; shift < 32; shift += 8) {
        record.push_back(static_cast<BYTE>(word >> shift));
      }
    };
    put(0x46);
    put(1);
    put(enabled ? 3 : 1);
    for (const std::string& text : {server, bypass, std::string()}) {
      put(static_cast<uint32_t>(text.size()));
      record.insert(record.end(), text.begin(), text.end());
    }
    record.resize(record.size() + 32);
    return record;
  }

  static bool Write(const wchar_t* key, const wchar_t* name, DWORD type,
                    const std::vector<BYTE>& data) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, key, name, type, data.data(),
                           static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
  }

  SavedValue saved_[4] = {{kInternetSettings, L"ProxyEnable"},
                          {kInternetSettings, L"ProxyServer"},
                          {kInternetSettings, L"ProxyOverride"},
                          {kConnections, L"DefaultConnectionSettings"}};
};

// How many uploads of the session came through the forward proxy, and how
// many in all.
std::pair<int, size_t> ViaProxy(test_support::CollectionServer& server) {
  const std::vector<std::string> requests = server.Requests();
  int via = 0;
  for (const std::string& request : requests) {
    via += request.find("\"via\": \"1.1 forward_proxy\"") != std::string::npos;
  }
  return {via, requests.size()};
}

class ProxySettingsTest : public FieldConditionsTest {
 protected:
  // Runs three events and a flush to |url| with the forward proxy named in
  // the user's settings, switched on or off; returns the transcript.
  std::string RunWithProxySettings(bool enabled, const std::string& bypass,
                                   const std::string& url) {
    InternetSettingsOverride settings;
    const std::string proxy =
        "127.0.0.1:" + std::to_string(test_support::ForwardProxyPort());
    EXPECT_TRUE(settings.Set(enabled, proxy, bypass));
    return Run(kTimeout + InitializeStep(url) + TrackSteps(3) + kFlush +
               "destroy\n");
  }
};

// The server's name resolves only at the proxy the user's settings name.
TEST_F(ProxySettingsTest, ProxyInTheUsersSettingsCarriesEveryRecord) {
  const std::string transcript =
      RunWithProxySettings(true, "<local>", server_->ProxyOnlyUploadUrl());
  EXPECT_EQ(Outcomes(transcript, "flush"),
            std::vector<std::string>{"success true"})
      << transcript;
  EXPECT_EQ(DeliveryProblems(server_->Records(), 3, 1, 1), "") << transcript;
  const std::pair<int, size_t> via = ViaProxy(*server_);
  EXPECT_EQ(static_cast<size_t>(via.first), via.second);
}

// Switched off, the proxy is not used even where it would apply (no
// loopback exception), and uploads go direct.
TEST_F(ProxySettingsTest, ProxySwitchedOffUploadsGoDirect) {
  const std::string transcript =
      RunWithProxySettings(false, "<-loopback>", server_->UploadUrl());
  EXPECT_EQ(Outcomes(transcript, "flush"),
            std::vector<std::string>{"success true"})
      << transcript;
  EXPECT_EQ(DeliveryProblems(server_->Records(), 3, 1, 1), "") << transcript;
  EXPECT_EQ(ViaProxy(*server_).first, 0);
}

}  // namespace
