// In-process tests of FlutterWindow and the application's entry logic with
// the stand-in engine and the stand-in plugin libraries: registration order,
// sub-windows, the engine's first look at messages, font changes, teardown
// and a refused view.
#include "host/flutter_window.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/standard_codec.h"
#include "host/application.h"
#include "standins/engine/standin_control.h"
#include "tests/host/host_test_support.h"
#include "tests/support/program_run.h"

namespace {

using host_test::MainWindowRecordNames;
using host_test::PluginRecord;
using host_test::PluginRecords;
using host_test::RecordNames;
using test_support::TempFile;

constexpr char kMultiWindowChannel[] = "mixin.one/flutter_multi_window";

// The plugin names the main window asks registrars for, in order: spelled
// out whole, not built from the build's own switches, so a build that lost a
// plugin fails here.
std::vector<std::string> MainWindowPluginNames() {
  return {
      "FrameWindowPlugin",   "ConnectivityPlusWindowsPlugin",
      "DesktopDropPlugin",   "DesktopMultiWindowPlugin",
      "FvpPluginCApi",       "ScreenRetrieverWindowsPluginCApi",
      "UrlLauncherWindows",  "WebviewWindowsPlugin",
      "WindowManagerPlugin", "AnalyticsPlugin",
  };
}

// Which plugin name each stand-in library registers for.
const std::map<std::string, std::string>& LibraryPluginNames() {
  static const auto* names = new std::map<std::string, std::string>{
      {"connectivity_plus_plugin", "ConnectivityPlusWindowsPlugin"},
      {"desktop_drop_plugin", "DesktopDropPlugin"},
      {"desktop_multi_window_plugin", "DesktopMultiWindowPlugin"},
      {"fvp_plugin", "FvpPluginCApi"},
      {"screen_retriever_windows_plugin", "ScreenRetrieverWindowsPluginCApi"},
      {"url_launcher_windows_plugin", "UrlLauncherWindows"},
      {"webview_windows_plugin", "WebviewWindowsPlugin"},
      {"window_manager_plugin", "WindowManagerPlugin"},
  };
  return *names;
}

struct RegistrarRequest {
  int event_index;
  std::string name;
  FlutterDesktopPluginRegistrarRef registrar;
};

std::vector<RegistrarRequest> RegistrarRequests(int64_t engine_serial) {
  std::vector<RegistrarRequest> requests;
  const int32_t count = StandinEngineEventCount();
  for (int32_t i = 0; i < count; ++i) {
    StandinEngineEvent event{};
    if (StandinEngineGetEvent(i, &event) &&
        event.kind == kStandinEventRegistrarRequested &&
        event.engine_serial == engine_serial) {
      requests.push_back({i, event.detail, event.registrar});
    }
  }
  return requests;
}

std::vector<std::string> Names(const std::vector<RegistrarRequest>& requests) {
  std::vector<std::string> names;
  for (const RegistrarRequest& request : requests) {
    names.push_back(request.name);
  }
  return names;
}

// Each "register" record got the registrar requested for its plugin name.
void ExpectRecordsMatchRequests(const std::vector<PluginRecord>& records,
                                const std::vector<RegistrarRequest>& requests) {
  for (const PluginRecord& record : records) {
    if (record.kind != "register") continue;
    const std::string& name = LibraryPluginNames().at(record.library);
    bool found = false;
    for (const RegistrarRequest& request : requests) {
      if (request.name == name) {
        found = true;
        EXPECT_EQ(record.detail, reinterpret_cast<uintptr_t>(request.registrar))
            << record.library;
        EXPECT_GT(record.events, request.event_index) << record.library;
      }
    }
    EXPECT_TRUE(found) << record.library;
  }
}

// Exposes the message handler so a test can offer messages without the
// frame module's subclass in between.
class TestFlutterWindow : public FlutterWindow {
 public:
  using FlutterWindow::FlutterWindow;
  using FlutterWindow::HandleMessage;
};

class FlutterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineSetScriptedUi(0);
    StandinEngineSetDpiOverride(96);
    StandinEngineClearEvents();
    SetEnvironmentVariableW(L"QUILLON_STANDIN_TRANSCRIPT",
                            transcript_.path().c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"QUILLON_STANDIN_TRANSCRIPT", nullptr);
    StandinEngineResetControls();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  std::vector<PluginRecord> Records() const {
    return PluginRecords(test_support::Lines(transcript_.Read()));
  }

  std::unique_ptr<TestFlutterWindow> CreateMainWindow() {
    auto window =
        std::make_unique<TestFlutterWindow>(flutter::EngineProject(L"data"));
    if (!window->Create(L"quillon_pc", Win32Window::Point(10, 10),
                        Win32Window::Size(1280, 720))) {
      ADD_FAILURE() << "Create failed";
      return nullptr;
    }
    engine_ = StandinEngineLatestEngine();
    serial_ = StandinEngineSerial(engine_);
    return window;
  }

  TempFile transcript_{L"hft"};
  FlutterDesktopEngineRef engine_ = nullptr;
  int64_t serial_ = 0;
};

TEST_F(FlutterWindowTest, RegistersMainWindowPluginsInTableOrder) {
  auto window = CreateMainWindow();
  ASSERT_TRUE(window);

  const std::vector<RegistrarRequest> requests = RegistrarRequests(serial_);
  EXPECT_EQ(Names(requests), MainWindowPluginNames());

  const std::vector<PluginRecord> records = Records();
  EXPECT_EQ(RecordNames(records), MainWindowRecordNames());
  ExpectRecordsMatchRequests(records, requests);

  // The callback is OnSubWindowCreated, installed after every table plugin
  // and before the analytics plugin's registrar is asked for.
  ASSERT_EQ(records.size(), 9u);
  const PluginRecord& callback = records[8];
  EXPECT_EQ(callback.detail,
            reinterpret_cast<uintptr_t>(&FlutterWindow::OnSubWindowCreated));
  for (const RegistrarRequest& request : requests) {
    if (request.name == "AnalyticsPlugin") {
      EXPECT_GE(request.event_index, callback.events);
    } else {
      EXPECT_LT(request.event_index, callback.events) << request.name;
    }
  }
}

TEST_F(FlutterWindowTest, ViewBecomesTheFocusedChildAtClientSize) {
  StandinEngineSetDpiOverride(144);
  auto window = CreateMainWindow();
  ASSERT_TRUE(window);
  HWND handle = window->GetHandle();
  EXPECT_FALSE(IsWindowVisible(handle));

  HWND view = StandinEngineViewWindow(engine_);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(GetParent(view), handle);
  const RECT client = window->ClientArea();
  RECT view_client{};
  GetClientRect(view, &view_client);
  EXPECT_EQ(view_client.right, client.right - client.left);
  EXPECT_EQ(view_client.bottom, client.bottom - client.top);
  // Physical pixels: at 144 DPI the client area is half as big again.
  EXPECT_GT(client.right - client.left, 1280);

  // Once the user interface shows the window, the view has the focus.
  ShowWindow(handle, SW_SHOW);
  SetForegroundWindow(handle);
  EXPECT_EQ(GetFocus(), view);
}

TEST_F(FlutterWindowTest, SubWindowGetsExactlyItsThreePlugins) {
  auto window = CreateMainWindow();
  ASSERT_TRUE(window);
  const size_t main_records = Records().size();

  const flutter::StandardMethodCodec& codec =
      flutter::StandardMethodCodec::GetInstance();
  auto message = codec.EncodeMethodCall(flutter::MethodCall(
      "createWindow", std::make_unique<flutter::EncodableValue>()));
  std::vector<uint8_t> reply;
  bool replied = false;
  struct ReplySink {
    std::vector<uint8_t>* bytes;
    bool* replied;
  } sink{&reply, &replied};
  ASSERT_EQ(StandinEngineDeliverMessage(
                engine_, kMultiWindowChannel, message->data(), message->size(),
                [](const uint8_t* data, size_t size, void* user_data) {
                  auto* s = static_cast<ReplySink*>(user_data);
                  s->bytes->assign(data, data + size);
                  *s->replied = true;
                },
                &sink),
            1);
  EXPECT_FALSE(replied) << "answered inside the delivery";
  StandinEngineRunTasks();
  ASSERT_TRUE(replied);

  FlutterDesktopEngineRef sub_engine = StandinEngineLatestEngine();
  ASSERT_NE(sub_engine, engine_);
  const std::vector<RegistrarRequest> sub_requests =
      RegistrarRequests(StandinEngineSerial(sub_engine));
  EXPECT_EQ(Names(sub_requests),
            (std::vector<std::string>{"ScreenRetrieverWindowsPluginCApi",
                                      "WebviewWindowsPlugin",
                                      "WindowManagerPlugin"}));

  std::vector<PluginRecord> records = Records();
  ASSERT_GE(records.size(), main_records);
  records.erase(records.begin(), records.begin() + main_records);
  EXPECT_EQ(RecordNames(records),
            (std::vector<std::string>{
                "sub-window desktop_multi_window_plugin",
                "register screen_retriever_windows_plugin",
                "register webview_windows_plugin",
                "register window_manager_plugin",
            }));
  ExpectRecordsMatchRequests(records, sub_requests);
  // Nothing more was registered on the main engine.
  EXPECT_EQ(Names(RegistrarRequests(serial_)), MainWindowPluginNames());
}

TEST_F(FlutterWindowTest, NullSubWindowControllerIsIgnored) {
  FlutterWindow::OnSubWindowCreated(nullptr);
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventRegistrarRequested, 0), 0);
}

// Hands out a null registrar for every name and remembers the names.
class NullRegistry : public flutter::PluginRegistry {
 public:
  FlutterDesktopPluginRegistrarRef RegistrarForPlugin(
      const std::string& name) override {
    names.push_back(name);
    return nullptr;
  }
  std::vector<std::string> names;
};

TEST_F(FlutterWindowTest, NullRegistrarsArePassedOnToEveryTablePlugin) {
  NullRegistry registry;
  FlutterWindow::RegisterPlugins(&registry);
  std::vector<std::string> expected = MainWindowPluginNames();
  expected.pop_back();  // the analytics plugin is not part of the table
  EXPECT_EQ(registry.names, expected);
  const std::vector<PluginRecord> records = Records();
  ASSERT_EQ(records.size(), 8u);
  for (const PluginRecord& record : records) {
    EXPECT_EQ(record.kind, "register");
    EXPECT_EQ(record.detail, 0u) << record.library;
  }
}

TEST_F(FlutterWindowTest, ClaimedMessageNeverReachesTheWindow) {
  auto window = CreateMainWindow();
  ASSERT_TRUE(window);
  HWND handle = window->GetHandle();
  RECT bounds{};
  GetWindowRect(handle, &bounds);
  const LPARAM corner = MAKELPARAM(bounds.left + 3, bounds.top + 3);

  const int32_t offered = StandinEngineOfferedMessageCount(WM_NCHITTEST);
  EXPECT_EQ(window->HandleMessage(handle, WM_NCHITTEST, 0, corner), HTTOPLEFT);
  EXPECT_EQ(StandinEngineOfferedMessageCount(WM_NCHITTEST), offered + 1);

  StandinEngineClaimWindowMessage(WM_NCHITTEST, 4242);
  EXPECT_EQ(window->HandleMessage(handle, WM_NCHITTEST, 0, corner), 4242);

  // A claimed WM_SIZE leaves the view as it was.
  HWND view = StandinEngineViewWindow(engine_);
  RECT before{};
  GetClientRect(view, &before);
  StandinEngineClaimWindowMessage(WM_SIZE, 0);
  SetWindowPos(handle, nullptr, 0, 0, 300, 200,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT after{};
  GetClientRect(view, &after);
  EXPECT_TRUE(EqualRect(&before, &after));
}

TEST_F(FlutterWindowTest, FontChangeReloadsEngineFontsUnlessClaimed) {
  auto window = CreateMainWindow();
  ASSERT_TRUE(window);
  HWND handle = window->GetHandle();
  EXPECT_EQ(window->HandleMessage(handle, WM_FONTCHANGE, 0, 0),
            DefWindowProcW(handle, WM_FONTCHANGE, 0, 0));
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventFontsReloaded, serial_), 1);

  StandinEngineClaimWindowMessage(WM_FONTCHANGE, 7);
  EXPECT_EQ(window->HandleMessage(handle, WM_FONTCHANGE, 0, 0), 7);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventFontsReloaded, serial_), 1);
}

TEST_F(FlutterWindowTest, DestroyingTheWindowEndsEngineAndItsRegistrars) {
  auto window = CreateMainWindow();
  ASSERT_TRUE(window);
  HWND handle = window->GetHandle();
  const int32_t handlers_set =
      StandinEngineCountEvents(kStandinEventDestructionHandlerSet, serial_);
  ASSERT_GT(handlers_set, 0);  // the multi-window plugin's at least

  DestroyWindow(handle);
  EXPECT_EQ(window->GetHandle(), nullptr);
  EXPECT_EQ(
      StandinEngineCountEvents(kStandinEventViewControllerDestroyed, serial_),
      1);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventEngineEnded, serial_), 1);
  EXPECT_EQ(
      StandinEngineCountEvents(kStandinEventDestructionHandlerCalled, serial_),
      handlers_set);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventEngineDestroyCalled, 0), 0);

  // Without a controller, messages go straight to the base window.
  const int32_t offered = StandinEngineOfferedMessageCount(WM_FONTCHANGE);
  window->HandleMessage(handle, WM_FONTCHANGE, 0, 0);
  EXPECT_EQ(StandinEngineOfferedMessageCount(WM_FONTCHANGE), offered);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventFontsReloaded, 0), 0);
}

TEST_F(FlutterWindowTest, RefusedViewFailsCreateBeforeAnyPlugin) {
  StandinEngineRefuseViewControllers(1);
  testing::internal::CaptureStderr();
  TestFlutterWindow window{flutter::EngineProject(L"data")};
  EXPECT_FALSE(window.Create(L"quillon_pc", Win32Window::Point(10, 10),
                             Win32Window::Size(1280, 720)));
  const std::string error = testing::internal::GetCapturedStderr();
  EXPECT_NE(error.find("Failed to create view controller."), std::string::npos)
      << error;
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventRegistrarRequested, 0), 0);
  EXPECT_TRUE(Records().empty());
}

TEST_F(FlutterWindowTest, ApplicationExitsWithOneWhenTheViewIsRefused) {
  StandinEngineRefuseViewControllers(1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunApplication(L""), 1);
  const std::string error = testing::internal::GetCapturedStderr();
  EXPECT_NE(error.find("Failed to create view controller."), std::string::npos)
      << error;
  EXPECT_EQ(FindWindowW(kAppWindowClassName, nullptr), nullptr);
}

}  // namespace
