// Engines, registrars, view controllers and textures of the stand-in engine
// library, in both builds (the native build's views have no window).
#include <cstring>
#include <string>
#include <vector>

#include "tests/standin_engine/standin_test_support.h"

namespace {

using standin_test::CreateEngine;
using standin_test::DetailsOf;
using standin_test::EventsOf;

std::string Argument(FlutterDesktopEngineRef engine, int32_t index) {
  char buffer[64];
  int32_t length =
      StandinEngineGetArgument(engine, index, buffer, sizeof(buffer));
  return length < 0 ? "<none>" : std::string(buffer);
}

std::string Path(FlutterDesktopEngineRef engine, int32_t which) {
  std::vector<char> buffer(StandinEngineGetPath(engine, which, nullptr, 0) + 1);
  StandinEngineGetPath(engine, which, buffer.data(), buffer.size());
  return buffer.data();
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

using EngineTest = standin_test::StandinTest;

TEST_F(EngineTest, CreateCopiesThePropertiesRecord) {
  // Everything the record points to is gone after the call.
  std::vector<std::string> texts = {"first", "", "zweite Zeile \xC3\xA4"};
  std::vector<const char*> arguments = {texts[0].c_str(), texts[1].c_str(),
                                        nullptr, texts[2].c_str()};
  std::wstring assets = L"data\\flutter_assets";
  std::string entrypoint = "main2";
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = assets.c_str();
#ifdef _WIN32
  properties.icu_data_path = L"C:\\absolute\\icudtl.dat";
#else
  properties.icu_data_path = L"/absolute/icudtl.dat";
#endif
  properties.aot_library_path = nullptr;
  properties.dart_entrypoint = entrypoint.c_str();
  properties.dart_entrypoint_argc = 4;
  properties.dart_entrypoint_argv = arguments.data();
  properties.engine_option_1 = 7;
  properties.engine_option_2 = -3;
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  assets.assign(assets.size(), L'x');
  entrypoint = "xxxxx";
  for (std::string& text : texts) {
    text.assign(text.size(), 'x');
  }

  EXPECT_EQ(StandinEngineGetArgumentCount(engine), 4);
  EXPECT_EQ(Argument(engine, 0), "first");
  EXPECT_EQ(Argument(engine, 1), "");
  EXPECT_EQ(Argument(engine, 2), "") << "a null entry is empty text";
  EXPECT_EQ(Argument(engine, 3), "zweite Zeile \xC3\xA4");
  EXPECT_EQ(Argument(engine, 4), "<none>");
  char name[16];
  EXPECT_EQ(StandinEngineGetEntrypoint(engine, name, sizeof(name)), 5);
  EXPECT_STREQ(name, "main2");
  EXPECT_EQ(StandinEngineGetOption(engine, 1), 7);
  EXPECT_EQ(StandinEngineGetOption(engine, 2), -3);

  // Relative paths hang off the executable's folder; absolute ones stay.
  std::string resolved = Path(engine, 0);
  EXPECT_TRUE(EndsWith(resolved, "data\\flutter_assets")) << resolved;
  EXPECT_GT(resolved.size(), std::strlen("data\\flutter_assets") + 1);
#ifdef _WIN32
  EXPECT_EQ(Path(engine, 1), "C:\\absolute\\icudtl.dat");
#else
  EXPECT_EQ(resolved[0], '/');
  EXPECT_EQ(Path(engine, 1), "/absolute/icudtl.dat");
#endif
  EXPECT_EQ(Path(engine, 2), "");

  // A short buffer gets a cut, terminated text and the full length.
  char small[4];
  EXPECT_EQ(StandinEngineGetArgument(engine, 0, small, sizeof(small)), 5);
  EXPECT_STREQ(small, "fir");
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
}

TEST_F(EngineTest, NoArgumentsAndNullEntrypoint) {
  FlutterDesktopEngineProperties properties{};
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(StandinEngineGetArgumentCount(engine), 0);
  EXPECT_EQ(StandinEngineGetEntrypoint(engine, nullptr, 0), 0);
  EXPECT_EQ(Path(engine, 0), "");
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(FlutterDesktopEngineCreate(nullptr), nullptr);
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);
}

TEST_F(EngineTest, SamePluginNameGivesSameRegistrarOnOneEngine) {
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopEngineRef other = CreateEngine();
  FlutterDesktopPluginRegistrarRef a =
      FlutterDesktopEngineGetPluginRegistrar(engine, "PluginA");
  FlutterDesktopPluginRegistrarRef b =
      FlutterDesktopEngineGetPluginRegistrar(engine, "PluginB");
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine, "PluginA"), a);
  EXPECT_NE(FlutterDesktopEngineGetPluginRegistrar(other, "PluginA"), a);

  // A registrar's messenger is its engine's; one texture registrar per engine.
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetMessenger(a),
            FlutterDesktopEngineGetMessenger(engine));
  EXPECT_EQ(FlutterDesktopRegistrarGetTextureRegistrar(a),
            FlutterDesktopRegistrarGetTextureRegistrar(b));
  EXPECT_NE(FlutterDesktopRegistrarGetTextureRegistrar(a), nullptr);
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetView(a), nullptr)
      << "an engine without a view controller has no view";

  EXPECT_EQ(
      DetailsOf(kStandinEventRegistrarRequested, StandinEngineSerial(engine)),
      (std::vector<std::string>{"PluginA", "PluginB", "PluginA"}));
  FlutterDesktopEngineDestroy(other);
  FlutterDesktopEngineDestroy(engine);
}

// Destruction handlers record the order and state they saw.
std::vector<FlutterDesktopPluginRegistrarRef>* g_ended = nullptr;
FlutterDesktopMessengerRef g_messenger = nullptr;
std::vector<bool>* g_available = nullptr;

void OnRegistrarEnded(FlutterDesktopPluginRegistrarRef registrar) {
  g_ended->push_back(registrar);
  g_available->push_back(FlutterDesktopMessengerIsAvailable(g_messenger));
  // A plugin going away unregisters its channel.
  FlutterDesktopMessengerSetCallback(g_messenger, "plugin/channel", nullptr,
                                     nullptr);
}

class RegistrarEndTest : public standin_test::StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    g_ended = &ended_;
    g_available = &available_;
    engine_ = CreateEngine();
    g_messenger = FlutterDesktopEngineGetMessenger(engine_);
    first_ = FlutterDesktopEngineGetPluginRegistrar(engine_, "First");
    second_ = FlutterDesktopEngineGetPluginRegistrar(engine_, "Second");
    unhandled_ = FlutterDesktopEngineGetPluginRegistrar(engine_, "NoHandler");
    FlutterDesktopPluginRegistrarSetDestructionHandler(second_,
                                                       OnRegistrarEnded);
    FlutterDesktopPluginRegistrarSetDestructionHandler(first_,
                                                       OnRegistrarEnded);
    FlutterDesktopPluginRegistrarSetDestructionHandler(unhandled_,
                                                       OnRegistrarEnded);
    FlutterDesktopPluginRegistrarSetDestructionHandler(unhandled_, nullptr);
  }
  void TearDown() override {
    if (StandinEngineSerial(engine_) != 0) {
      FlutterDesktopEngineDestroy(engine_);
    }
    g_ended = nullptr;
    g_available = nullptr;
    StandinTest::TearDown();
  }

  std::vector<FlutterDesktopPluginRegistrarRef> ended_;
  std::vector<bool> available_;
  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopPluginRegistrarRef first_ = nullptr;
  FlutterDesktopPluginRegistrarRef second_ = nullptr;
  FlutterDesktopPluginRegistrarRef unhandled_ = nullptr;
};

TEST_F(RegistrarEndTest, HandlersRunOnceAtEngineEndInCreationOrder) {
  int64_t serial = StandinEngineSerial(engine_);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine_));
  EXPECT_EQ(ended_,
            (std::vector<FlutterDesktopPluginRegistrarRef>{first_, second_}));
  EXPECT_EQ(available_, (std::vector<bool>{true, true}))
      << "plugins end while the messenger still works";
  EXPECT_EQ(DetailsOf(kStandinEventDestructionHandlerCalled, serial),
            (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(DetailsOf(kStandinEventEngineEnded, serial),
            std::vector<std::string>{"FlutterDesktopEngineDestroy"});
}

TEST_F(RegistrarEndTest, EndRegistrarsOnDemandKeepsTheEngineAndHandles) {
  EXPECT_EQ(StandinEngineEndRegistrars(engine_), 2);
  EXPECT_EQ(ended_.size(), 2u);
  EXPECT_EQ(StandinEngineIsRunning(engine_), 1);
  EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine_, "First"), first_);
  // Handlers were cleared; only a handler set again runs at the end.
  FlutterDesktopPluginRegistrarSetDestructionHandler(first_, OnRegistrarEnded);
  FlutterDesktopEngineDestroy(engine_);
  EXPECT_EQ(ended_, (std::vector<FlutterDesktopPluginRegistrarRef>{
                        first_, second_, first_}));
}

TEST_F(RegistrarEndTest, ShutdownEndsOnceAndLeavesHandlesToTheOwner) {
  int64_t serial = StandinEngineSerial(engine_);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine_);
  EXPECT_EQ(StandinEngineShutdown(engine_), 2);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  EXPECT_EQ(StandinEngineIsRunning(engine_), 0);
  EXPECT_EQ(StandinEngineShutdown(engine_), 0);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine_));
  EXPECT_EQ(ended_.size(), 2u);
  EXPECT_EQ(DetailsOf(kStandinEventEngineEnded, serial),
            std::vector<std::string>{"StandinEngineShutdown"});
}

TEST_F(EngineTest, ViewControllerOwnsAndEndsTheEngine) {
  FlutterDesktopEngineRef engine = CreateEngine();
  int64_t serial = StandinEngineSerial(engine);
  FlutterDesktopPluginRegistrarRef registrar =
      FlutterDesktopEngineGetPluginRegistrar(engine, "P");
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(320, 240, engine);
  ASSERT_NE(controller, nullptr);
  FlutterDesktopViewRef view = FlutterDesktopViewControllerGetView(controller);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetView(registrar), view);
  EXPECT_EQ(StandinEngineIsOwnedByViewController(engine), 1);

  // The engine belongs to the controller now: destroying it is refused.
  EXPECT_FALSE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(StandinEngineIsRunning(engine), 1);
  EXPECT_EQ(DetailsOf(kStandinEventEngineDestroyCalled, serial),
            std::vector<std::string>{"controller-owned"});
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);

  FlutterDesktopViewControllerDestroy(controller);
  EXPECT_EQ(StandinEngineSerial(engine), 0) << "the engine is gone";
  EXPECT_EQ(DetailsOf(kStandinEventEngineEnded, serial),
            std::vector<std::string>{"FlutterDesktopViewControllerDestroy"});
  EXPECT_EQ(EventsOf(kStandinEventViewControllerDestroyed, serial).size(), 1u);
}

TEST_F(EngineTest, RefusedViewControllerEndsTheEngineItWasGiven) {
  StandinEngineRefuseViewControllers(1);
  FlutterDesktopEngineRef engine = CreateEngine();
  int64_t serial = StandinEngineSerial(engine);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(100, 100, engine), nullptr);
  EXPECT_EQ(StandinEngineLiveEngineCount(), 0);
  EXPECT_EQ(DetailsOf(kStandinEventViewControllerRefused, serial),
            std::vector<std::string>{"refused"});
  EXPECT_EQ(DetailsOf(kStandinEventEngineEnded, serial),
            std::vector<std::string>{"FlutterDesktopViewControllerCreate"});

  // Only the next one was refused.
  engine = CreateEngine();
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(100, 100, engine);
  EXPECT_NE(controller, nullptr);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(100, 100, engine), nullptr)
      << "an engine serves one controller";
  FlutterDesktopViewControllerDestroy(controller);
}

TEST_F(EngineTest, TopLevelMessagesAreClaimedOnlyWhenAsked) {
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(10, 10, engine);
  ASSERT_NE(controller, nullptr);
  const UINT kFontChange = 0x001D;
  const UINT kSize = 0x0005;
  LRESULT result = 123;
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller, nullptr, kFontChange, 0, 0, &result));
  EXPECT_EQ(result, 123);

  StandinEngineClaimWindowMessage(kFontChange, 42);
  EXPECT_TRUE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller, nullptr, kFontChange, 0, 0, &result));
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller, nullptr, kSize, 0, 0, &result));
  StandinEngineClearWindowMessageClaims();
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller, nullptr, kFontChange, 0, 0, &result));
  EXPECT_EQ(StandinEngineOfferedMessageCount(kFontChange), 3);
  EXPECT_EQ(StandinEngineOfferedMessageCount(kSize), 1);

  FlutterDesktopEngineReloadSystemFonts(engine);
  FlutterDesktopResyncOutputStreams();
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventFontsReloaded,
                                     StandinEngineSerial(engine)),
            1);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventOutputStreamsResynced, 0), 1);
  FlutterDesktopViewControllerDestroy(controller);
}

TEST_F(EngineTest, DpiOverrideAppliesToEveryMonitorUntilCleared) {
  UINT real = FlutterDesktopGetDpiForMonitor(nullptr);
  EXPECT_GE(real, 96u);
  StandinEngineSetDpiOverride(144);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), 144u);
  StandinEngineSetDpiOverride(0);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), real);
}

// A pixel-buffer callback that reports what it was asked.
struct TextureSource {
  size_t width = 0;
  size_t height = 0;
  int calls = 0;
};

const FlutterDesktopPixelBuffer* ProvidePixels(size_t width, size_t height,
                                               void* user_data) {
  auto* source = static_cast<TextureSource*>(user_data);
  source->width = width;
  source->height = height;
  ++source->calls;
  return reinterpret_cast<const FlutterDesktopPixelBuffer*>(source);
}

const FlutterDesktopGpuSurfaceDescriptor* ProvideSurface(size_t, size_t,
                                                         void* user_data) {
  return static_cast<const FlutterDesktopGpuSurfaceDescriptor*>(user_data);
}

void CountUnregistered(void* user_data) { ++*static_cast<int*>(user_data); }

TEST_F(EngineTest, TexturesGetIdsFramesAndOneUnregisterCallback) {
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopTextureRegistrarRef textures =
      FlutterDesktopRegistrarGetTextureRegistrar(
          FlutterDesktopEngineGetPluginRegistrar(engine, "Video"));
  TextureSource source;
  FlutterDesktopTextureInfo pixels{};
  pixels.type = kFlutterDesktopPixelBufferTexture;
  pixels.pixel_buffer_config.callback = ProvidePixels;
  pixels.pixel_buffer_config.user_data = &source;
  int surface_data = 0;
  FlutterDesktopTextureInfo surface{};
  surface.type = kFlutterDesktopGpuSurfaceTexture;
  surface.gpu_surface_config.struct_size =
      sizeof(FlutterDesktopGpuSurfaceTextureConfig);
  surface.gpu_surface_config.callback = ProvideSurface;
  surface.gpu_surface_config.user_data = &surface_data;
  FlutterDesktopTextureInfo unknown{};
  unknown.type = 7;

  int64_t pixel_id =
      FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, &pixels);
  int64_t surface_id =
      FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, &surface);
  ASSERT_GE(pixel_id, 0);
  ASSERT_GE(surface_id, 0);
  EXPECT_NE(pixel_id, surface_id);
  EXPECT_EQ(
      FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, &unknown),
      -1);
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);
  EXPECT_EQ(StandinEngineTextureCount(engine), 2);

  EXPECT_EQ(StandinEngineFetchTexture(engine, pixel_id, 64, 32), &source);
  EXPECT_EQ(source.width, 64u);
  EXPECT_EQ(source.height, 32u);
  EXPECT_EQ(StandinEngineFetchTexture(engine, surface_id, 1, 1), &surface_data);

  EXPECT_TRUE(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
      textures, pixel_id));
  EXPECT_TRUE(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
      textures, pixel_id));
  EXPECT_EQ(StandinEngineTextureFramesMarked(engine, pixel_id), 2);

  int unregistered = 0;
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(
      textures, pixel_id, CountUnregistered, &unregistered);
  EXPECT_EQ(unregistered, 0) << "released inside the call";
  StandinEngineRunTasks();
  EXPECT_EQ(unregistered, 1);
  EXPECT_EQ(StandinEngineTextureCount(engine), 1);
  EXPECT_FALSE(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
      textures, pixel_id));
  EXPECT_EQ(StandinEngineFetchTexture(engine, pixel_id, 1, 1), nullptr);
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(textures, surface_id,
                                                          nullptr, nullptr);
  EXPECT_EQ(StandinEngineTextureCount(engine), 0);
  // An id the engine does not know is misuse, and its callback never runs.
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(
      textures, surface_id, CountUnregistered, &unregistered);
  StandinEngineRunTasks();
  EXPECT_EQ(unregistered, 1);
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);
  FlutterDesktopEngineDestroy(engine);
}

TEST_F(EngineTest, EngineHandlesAreCheckedNotTrusted) {
  FlutterDesktopEngineRef engine = CreateEngine();
  int64_t serial = StandinEngineSerial(engine);
  EXPECT_EQ(StandinEngineLatestEngine(), engine);
  FlutterDesktopEngineDestroy(engine);
  EXPECT_EQ(StandinEngineLatestEngine(), nullptr);
  // A second destroy of the same handle is recognised, not a double free.
  EXPECT_FALSE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(DetailsOf(kStandinEventEngineDestroyCalled),
            (std::vector<std::string>{"owned", "unknown"}));
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);
  EXPECT_EQ(DetailsOf(kStandinEventEngineEnded, serial).size(), 1u);
}

}  // namespace
