// The "frame/window" channel against the stand-in engine, as the user
// interface uses it.
#include <windows.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_call.h"
#include "embedding/standard_codec.h"
#include "frame/frame_api.h"
#include "frame/frame_state.h"
#include "frame/frame_window.h"
#include "frame/frame_window_plugin.h"
#include "gtest/gtest.h"
#include "standins/engine/standin_control.h"
#include "tests/frame/frame_test_support.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr char kChannel[] = "frame/window";

struct Reply {
  int count = 0;
  bool null_data = false;
  std::vector<uint8_t> bytes;

  static void Record(const uint8_t* data, size_t size, void* user_data) {
    auto* reply = static_cast<Reply*>(user_data);
    ++reply->count;
    reply->null_data = data == nullptr;
    reply->bytes.assign(data, data + size);
  }
};

std::vector<uint8_t> EncodeCall(const std::string& method,
                                EncodableValue arguments) {
  flutter::MethodCall call(
      method, std::make_unique<EncodableValue>(std::move(arguments)));
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
}

class FramePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineClearEvents();
    engine_ = std::make_unique<flutter::FlutterEngine>(
        flutter::EngineProject(L"data"));
    handle_ = StandinEngineLatestEngine();
    ASSERT_NE(handle_, nullptr);
    FrameWindowPluginRegisterWithRegistrar(
        engine_->RegistrarForPlugin("FrameWindowPlugin"));
    ASSERT_EQ(StandinEngineHasChannelCallback(handle_, kChannel), 1);
  }

  void TearDown() override {
    // The engine's end takes the registrar and with it the plugin.
    engine_.reset();
    EXPECT_EQ(StandinEngineLiveEngineCount(), 0);
  }

  Reply Call(const std::string& method,
             EncodableValue arguments = EncodableValue()) {
    const std::vector<uint8_t> message = EncodeCall(method, arguments);
    Reply reply;
    EXPECT_EQ(
        StandinEngineDeliverMessage(handle_, kChannel, message.data(),
                                    message.size(), &Reply::Record, &reply),
        1);
    EXPECT_EQ(reply.count, 0) << method << " answered inside the delivery";
    StandinEngineRunTasks();
    EXPECT_EQ(reply.count, 1) << method;
    return reply;
  }

  std::unique_ptr<flutter::FlutterEngine> engine_;
  FlutterDesktopEngineRef handle_ = nullptr;
};

TEST_F(FramePluginTest, DragBeforeTheWindowExistsAnswersAnError) {
  ASSERT_EQ(frame::GetAppWindow(), nullptr);
  const std::vector<uint8_t> expected =
      *flutter::StandardMethodCodec::GetInstance().EncodeErrorReply(
          "ERROR_DRAG_APP_WINDOW_FAILED", "Could not drag app window");
  // The arguments play no part.
  for (const EncodableValue& arguments :
       {EncodableValue(), EncodableValue(true), EncodableValue("x"),
        EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(1)}}),
        EncodableValue(EncodableList{EncodableValue(1)})}) {
    EXPECT_EQ(Call("dragAppWindow", arguments).bytes, expected);
  }
}

TEST_F(FramePluginTest, OtherMethodNamesAreNotImplemented) {
  for (const char* method : {"DragAppWindow", "dragAppWindowX", "dragAppWindo",
                             "dragappwindow", "", "frame/window"}) {
    const Reply reply = Call(method);
    EXPECT_TRUE(reply.bytes.empty()) << method;
    EXPECT_TRUE(reply.null_data) << method;
  }
}

TEST_F(FramePluginTest, EndedRegistrarLeavesNoCallbackForQueuedMessages) {
  const std::vector<uint8_t> message = EncodeCall("dragAppWindow", {});
  Reply reply;
  ASSERT_EQ(StandinEngineDeliverMessage(handle_, kChannel, message.data(),
                                        message.size(), &Reply::Record, &reply),
            1);
  // The plugin goes with its registrar while the message waits for the
  // engine's turn; the engine must then find no callback into it.
  ASSERT_EQ(StandinEngineEndRegistrars(handle_), 1);
  EXPECT_EQ(StandinEngineHasChannelCallback(handle_, kChannel), 0);
  StandinEngineRunTasks();
  EXPECT_EQ(reply.count, 1);
  EXPECT_TRUE(reply.bytes.empty());
}

HWND CreateAppWindow() {
  static int parameter = 0;
  EXPECT_NE(frame_test::RegisterLoggingClass(frame::kAppWindowClassName), 0);
  return CreateWindowExW(0, frame::kAppWindowClassName, L"quillon_pc",
                         WS_POPUP | WS_THICKFRAME | WS_VISIBLE, 10, 10, 400,
                         300, nullptr, nullptr, GetModuleHandleW(nullptr),
                         &parameter);
}

TEST_F(FramePluginTest, DragAnswersOnceTheMoveHasEnded) {
  HWND window = CreateAppWindow();
  ASSERT_EQ(frame::GetAppWindow(), window);
  {
    frame_test::HeldButton button(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    frame_test::MoveLoopEnder ender;
    EXPECT_EQ(Call("dragAppWindow").bytes, (std::vector<uint8_t>{0, 0}));
    // The whole move ran before the answer.
    EXPECT_GT(ender.ticks_in_size_move(), 0);
    EXPECT_TRUE(frame_test::LogOf(window).Received(WM_EXITSIZEMOVE));
  }
  DestroyWindow(window);
}

EncodableValue Bounds(EncodableValue left, EncodableValue width) {
  const EncodableValue one(1.0);
  return EncodableValue(EncodableMap{{EncodableValue("left"), left},
                                     {EncodableValue("top"), one},
                                     {EncodableValue("width"), width},
                                     {EncodableValue("height"), one}});
}

TEST_F(FramePluginTest, MaximizeButtonBoundsAreCheckedKeptAndCleared) {
  HWND window = CreateAppWindow();
  POINT point{10, 1};
  ClientToScreen(window, &point);
  const LPARAM at = MAKELPARAM(point.x, point.y);
  const EncodableValue one(1);
  EXPECT_EQ(Call("setMaximizeButtonBounds",
                 Bounds(EncodableValue(int64_t{9}), EncodableValue(1.5)))
                .bytes,
            (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, at), HTMAXBUTTON);
  for (const EncodableValue& bad :
       {EncodableValue("x"), EncodableValue(EncodableList{one, one, one, one}),
        EncodableValue(EncodableMap{{EncodableValue("left"), one}}),
        Bounds(one, EncodableValue("1")), Bounds(one, EncodableValue(0)),
        Bounds(one, EncodableValue(-2.0)), Bounds(one, EncodableValue(NAN)),
        Bounds(EncodableValue(HUGE_VAL), one),
        Bounds(EncodableValue(int64_t{1} << 40), one)}) {
    const std::vector<uint8_t> reply =
        Call("setMaximizeButtonBounds", bad).bytes;
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[0], 1) << "not an error reply";
    EXPECT_NE(
        std::string(reply.begin(), reply.end()).find("ERROR_INVALID_ARGUMENTS"),
        std::string::npos);
  }
  // Refusals leave the last declaration; null clears it.
  EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, at), HTMAXBUTTON);
  EXPECT_EQ(Call("setMaximizeButtonBounds").bytes,
            (std::vector<uint8_t>{0, 0}));
  EXPECT_NE(SendMessageW(window, WM_NCHITTEST, 0, at), HTMAXBUTTON);
  DestroyWindow(window);
}

}  // namespace
