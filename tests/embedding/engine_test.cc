// Engine, view controller, registrars and textures against the stand-in
// engine.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/plugin_registrar.h"
#include "embedding/texture_registrar.h"
#include "gtest/gtest.h"
#include "standins/engine/standin_control.h"
#include "tests/embedding/embedding_test_support.h"

namespace flutter {
namespace {

using embedding_test::CountOccurrences;
using embedding_test::EventDetails;
using embedding_test::StderrCapture;

constexpr char kNotRunning[] =
    "Cannot get plugin registrar on an engine that isn't running; call Run "
    "first.\n";

std::string Path(FlutterDesktopEngineRef engine, int32_t which) {
  char buffer[1024];
  int32_t length = StandinEngineGetPath(engine, which, buffer, sizeof buffer);
  return length < 0 ? "<none>" : std::string(buffer);
}

std::string Argument(FlutterDesktopEngineRef engine, int32_t index) {
  char buffer[256];
  int32_t length =
      StandinEngineGetArgument(engine, index, buffer, sizeof buffer);
  return length < 0 ? "<none>" : std::string(buffer);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class EmbeddingEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineSetScriptedUi(0);
    StandinEngineClearEvents();
  }

  // Misuse fails the test through the check every stand-in test program
  // carries.
  void TearDown() override { EXPECT_EQ(StandinEngineLiveEngineCount(), 0); }
};

TEST_F(EmbeddingEngineTest, ProjectPathsAreThePlainConcatenation) {
  EngineProject project(L"data");
  EXPECT_EQ(project.assets_path(), L"data\\flutter_assets");
  EXPECT_EQ(project.icu_data_path(), L"data\\icudtl.dat");
  EXPECT_EQ(project.aot_library_path(), L"data\\app.so");
  EXPECT_EQ(project.entrypoint(), "");
  EXPECT_TRUE(project.entrypoint_arguments().empty());
  EXPECT_EQ(project.engine_option_1(), 0);
  EXPECT_EQ(project.engine_option_2(), 0);
}

TEST_F(EmbeddingEngineTest, EngineIsStartedWithTheWholeProject) {
  EngineProject project(L"data");
  project.set_entrypoint_arguments({"--flag", "two words", "\xC3\xBC"});
  project.set_engine_option_1(7);
  project.set_engine_option_2(-3);
  FlutterEngine engine(project);
  FlutterDesktopEngineRef handle = StandinEngineLatestEngine();
  ASSERT_NE(handle, nullptr);

  EXPECT_TRUE(EndsWith(Path(handle, 0), "data\\flutter_assets"));
  EXPECT_TRUE(EndsWith(Path(handle, 1), "data\\icudtl.dat"));
  EXPECT_TRUE(EndsWith(Path(handle, 2), "data\\app.so"));
  char entrypoint[16] = "x";
  EXPECT_EQ(StandinEngineGetEntrypoint(handle, entrypoint, sizeof entrypoint),
            0);
  ASSERT_EQ(StandinEngineGetArgumentCount(handle), 3);
  EXPECT_EQ(Argument(handle, 0), "--flag");
  EXPECT_EQ(Argument(handle, 1), "two words");
  EXPECT_EQ(Argument(handle, 2), "\xC3\xBC");
  EXPECT_EQ(StandinEngineGetOption(handle, 1), 7);
  EXPECT_EQ(StandinEngineGetOption(handle, 2), -3);
}

TEST_F(EmbeddingEngineTest, OwnedEngineIsDestroyedOnceWithItsObject) {
  int64_t serial = 0;
  {
    FlutterEngine engine{EngineProject(L"data")};
    serial = StandinEngineSerial(StandinEngineLatestEngine());
    EXPECT_EQ(StandinEngineGetArgumentCount(StandinEngineLatestEngine()), 0);
    engine.ReloadSystemFonts();
    EXPECT_EQ(StandinEngineCountEvents(kStandinEventFontsReloaded, serial), 1);
    EXPECT_NE(engine.RegistrarForPlugin("SomePlugin"), nullptr);
  }
  EXPECT_EQ(EventDetails(kStandinEventEngineDestroyCalled, serial),
            std::vector<std::string>{"owned"});
}

TEST_F(EmbeddingEngineTest, ViewControllerNeverDestroysTheEngineHandleItself) {
  int64_t serial = 0;
  {
    FlutterViewController controller(800, 600, EngineProject(L"data"));
    FlutterDesktopEngineRef handle = StandinEngineLatestEngine();
    serial = StandinEngineSerial(handle);
    ASSERT_NE(controller.engine(), nullptr);
    ASSERT_NE(controller.view(), nullptr);
    EXPECT_EQ(StandinEngineIsOwnedByViewController(handle), 1);
    // The engine object still reaches the engine it gave away.
    EXPECT_NE(controller.engine()->RegistrarForPlugin("SomePlugin"), nullptr);
  }
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventEngineDestroyCalled, 0), 0);
  EXPECT_EQ(
      StandinEngineCountEvents(kStandinEventViewControllerDestroyed, serial),
      1);
  EXPECT_EQ(EventDetails(kStandinEventEngineEnded, serial),
            std::vector<std::string>{"FlutterDesktopViewControllerDestroy"});
}

TEST_F(EmbeddingEngineTest, FailedViewControllerHasAnEngineButNoView) {
  StandinEngineRefuseViewControllers(1);
  StderrCapture capture;
  {
    FlutterViewController controller(800, 600, EngineProject(L"data"));
    EXPECT_EQ(capture.err(), "Failed to create view controller.\n");
    ASSERT_NE(controller.engine(), nullptr);
    EXPECT_EQ(controller.view(), nullptr);
    EXPECT_FALSE(controller.HandleTopLevelWindowProc(nullptr, 0x0010, 0, 0));
    // The library ended the engine with the refusal; the engine object must
    // not use the stale handle. Each request logs once.
    EXPECT_EQ(controller.engine()->RegistrarForPlugin("A"), nullptr);
    EXPECT_EQ(controller.engine()->RegistrarForPlugin("B"), nullptr);
    EXPECT_EQ(CountOccurrences(capture.err(), kNotRunning), 2);
    controller.engine()->ReloadSystemFonts();
    controller.engine()->messenger()->SetMessageHandler(
        "x", [](const uint8_t*, size_t, ReplyCallback) {});
  }
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventEngineDestroyCalled, 0), 0);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventFontsReloaded, 0), 0);
}

TEST_F(EmbeddingEngineTest, TopLevelWindowMessagesGoToTheEngine) {
  FlutterViewController controller(800, 600, EngineProject(L"data"));
  StandinEngineClaimWindowMessage(0x0200, 42);
  std::optional<LRESULT> claimed =
      controller.HandleTopLevelWindowProc(nullptr, 0x0200, 1, 2);
  ASSERT_TRUE(claimed.has_value());
  EXPECT_EQ(*claimed, 42);
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(nullptr, 0x0201, 1, 2));
  EXPECT_EQ(StandinEngineOfferedMessageCount(0x0200), 1);
  EXPECT_EQ(StandinEngineOfferedMessageCount(0x0201), 1);
}

// Records its own destruction, and what it could still reach at that moment.
class RecordingPlugin : public Plugin {
 public:
  RecordingPlugin(PluginRegistrarWindows* registrar, std::string name,
                  std::vector<std::string>* log)
      : registrar_(registrar), name_(std::move(name)), log_(log) {
    registrar_->messenger()->SetMessageHandler(
        name_,
        [](const uint8_t*, size_t, ReplyCallback reply) { reply(nullptr, 0); });
  }
  ~RecordingPlugin() override {
    // Both must still exist: the registrar destroys its plugins first.
    registrar_->messenger()->SetMessageHandler(name_, nullptr);
    log_->push_back(name_ + (registrar_->view() != nullptr ? "+view" : ""));
  }

 private:
  PluginRegistrarWindows* registrar_;
  std::string name_;
  std::vector<std::string>* log_;
};

TEST_F(EmbeddingEngineTest,
       RegistrarManagerKeepsOneObjectPerHandleUntilItsEnd) {
  std::vector<std::string> destroyed;
  FlutterViewController controller(800, 600, EngineProject(L"data"));
  FlutterDesktopEngineRef handle = StandinEngineLatestEngine();
  FlutterDesktopPluginRegistrarRef ref =
      controller.engine()->RegistrarForPlugin("Plugins");
  ASSERT_NE(ref, nullptr);
  RegistrarManager* manager = RegistrarManager::Instance();
  ASSERT_EQ(manager, RegistrarManager::Instance());

  PluginRegistrarWindows* first = manager->GetRegistrar(ref);
  PluginRegistrarWindows* again = manager->GetRegistrar(ref);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, again);
  EXPECT_NE(first->view(), nullptr);
  EXPECT_NE(first->texture_registrar(), nullptr);
  EXPECT_EQ(first->registrar(), ref);
  first->AddPlugin(std::make_unique<RecordingPlugin>(first, "a", &destroyed));
  again->AddPlugin(std::make_unique<RecordingPlugin>(again, "b", &destroyed));
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventDestructionHandlerSet, 0), 2);
  EXPECT_EQ(StandinEngineHasChannelCallback(handle, "a"), 1);

  // An unknown handle removes nothing.
  RegistrarManager::OnRegistrarDestroyed(
      reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&destroyed));
  EXPECT_TRUE(destroyed.empty());

  EXPECT_EQ(StandinEngineEndRegistrars(handle), 1);
  std::sort(destroyed.begin(), destroyed.end());
  EXPECT_EQ(destroyed, (std::vector<std::string>{"a+view", "b+view"}));
  EXPECT_EQ(StandinEngineHasChannelCallback(handle, "a"), 0);
  EXPECT_EQ(StandinEngineHasChannelCallback(handle, "b"), 0);

  // Same handle value after its end: a fresh object without the old plugins.
  destroyed.clear();
  ASSERT_EQ(controller.engine()->RegistrarForPlugin("Plugins"), ref);
  PluginRegistrarWindows* fresh = manager->GetRegistrar(ref);
  ASSERT_NE(fresh, nullptr);
  fresh->AddPlugin(std::make_unique<RecordingPlugin>(fresh, "c", &destroyed));
  EXPECT_EQ(StandinEngineEndRegistrars(handle), 1);
  EXPECT_EQ(destroyed, std::vector<std::string>{"c+view"});

  EXPECT_EQ(manager->GetRegistrar(nullptr), nullptr);
}

TEST_F(EmbeddingEngineTest, PlainRegistrarDestroysPluginsBeforeItsMessenger) {
  // A plugin that needs the messenger while it goes.
  class ChannelPlugin : public Plugin {
   public:
    explicit ChannelPlugin(PluginRegistrar* registrar)
        : registrar_(registrar) {}
    ~ChannelPlugin() override {
      registrar_->messenger()->SetMessageHandler("plain", nullptr);
    }

   private:
    PluginRegistrar* registrar_;
  };
  FlutterEngine engine{EngineProject(L"data")};
  FlutterDesktopEngineRef handle = StandinEngineLatestEngine();
  {
    PluginRegistrar registrar(engine.RegistrarForPlugin("Plain"));
    registrar.messenger()->SetMessageHandler(
        "plain", [](const uint8_t*, size_t, ReplyCallback) {});
    registrar.AddPlugin(std::make_unique<ChannelPlugin>(&registrar));
    EXPECT_EQ(StandinEngineHasChannelCallback(handle, "plain"), 1);
  }
  EXPECT_EQ(StandinEngineHasChannelCallback(handle, "plain"), 0);
}

TEST_F(EmbeddingEngineTest, EngineEndDestroysItsRegistrars) {
  std::vector<std::string> destroyed;
  {
    FlutterViewController controller(800, 600, EngineProject(L"data"));
    for (const char* name : {"one", "two"}) {
      PluginRegistrarWindows* registrar =
          RegistrarManager::Instance()->GetRegistrar(
              controller.engine()->RegistrarForPlugin(name));
      registrar->AddPlugin(
          std::make_unique<RecordingPlugin>(registrar, name, &destroyed));
    }
  }
  std::sort(destroyed.begin(), destroyed.end());
  EXPECT_EQ(destroyed, (std::vector<std::string>{"one+view", "two+view"}));
}

TEST_F(EmbeddingEngineTest, RegistrarOfAnEngineWithoutViewHasNoView) {
  std::vector<std::string> destroyed;
  {
    FlutterEngine engine{EngineProject(L"data")};
    PluginRegistrarWindows* registrar =
        RegistrarManager::Instance()->GetRegistrar(
            engine.RegistrarForPlugin("Headless"));
    ASSERT_NE(registrar, nullptr);
    EXPECT_EQ(registrar->view(), nullptr);
    registrar->AddPlugin(
        std::make_unique<RecordingPlugin>(registrar, "headless", &destroyed));
  }
  EXPECT_EQ(destroyed, std::vector<std::string>{"headless"});
}

TEST_F(EmbeddingEngineTest, ObjectsWithoutAnEngineHandleAskTheEngineNothing) {
  // A registrar built from null (no running engine) and a view object
  // without a view: nothing of theirs reaches the engine as a null handle,
  // which the fixture's misuse check would report.
  PluginRegistrarWindows registrar(nullptr);
  EXPECT_EQ(registrar.view(), nullptr);
  ASSERT_NE(registrar.messenger(), nullptr);
  registrar.messenger()->SetMessageHandler(
      "detached", [](const uint8_t*, size_t, ReplyCallback) {});
  registrar.messenger()->SetMessageHandler("detached", nullptr);
  ASSERT_NE(registrar.texture_registrar(), nullptr);
  EXPECT_FALSE(registrar.texture_registrar()->MarkTextureFrameAvailable(1));
  FlutterView view(nullptr);
  EXPECT_EQ(view.NativeWindow(), nullptr);
  EXPECT_EQ(StandinEngineCountEvents(0, 0), 0);
}

#ifdef _WIN32
TEST_F(EmbeddingEngineTest, ViewsWrapTheEnginesViewWindow) {
  FlutterViewController controller(640, 480, EngineProject(L"data"));
  ASSERT_NE(controller.view(), nullptr);
  HWND window = StandinEngineViewWindow(StandinEngineLatestEngine());
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(controller.view()->NativeWindow(), window);
  PluginRegistrarWindows* registrar =
      RegistrarManager::Instance()->GetRegistrar(
          controller.engine()->RegistrarForPlugin("Windowed"));
  ASSERT_NE(registrar->view(), nullptr);
  EXPECT_EQ(registrar->view()->NativeWindow(), window);
}
#endif

class EmbeddingTextureTest : public EmbeddingEngineTest {
 protected:
  void SetUp() override {
    EmbeddingEngineTest::SetUp();
    engine_ = std::make_unique<FlutterEngine>(EngineProject(L"data"));
    handle_ = StandinEngineLatestEngine();
    registrar_ = RegistrarManager::Instance()->GetRegistrar(
        engine_->RegistrarForPlugin("Textures"));
    ASSERT_NE(registrar_, nullptr);
    textures_ = registrar_->texture_registrar();
  }
  void TearDown() override {
    engine_.reset();
    EmbeddingEngineTest::TearDown();
  }

  std::unique_ptr<FlutterEngine> engine_;
  FlutterDesktopEngineRef handle_ = nullptr;
  PluginRegistrarWindows* registrar_ = nullptr;
  TextureRegistrar* textures_ = nullptr;
};

TEST_F(EmbeddingTextureTest, SourcesAreCalledThroughTheTextureRecord) {
  // Stand-in records: only their addresses matter here.
  alignas(8) char pixel_record[8];
  alignas(8) char surface_record[8];
  std::vector<std::string> calls;
  TextureSource pixels(PixelBufferSource([&](size_t width, size_t height) {
    calls.push_back("pixels " + std::to_string(width) + "x" +
                    std::to_string(height));
    return reinterpret_cast<const FlutterDesktopPixelBuffer*>(pixel_record);
  }));
  TextureSource surface(GpuSurfaceSource(5, [&](size_t width, size_t height) {
    calls.push_back("surface " + std::to_string(width) + "x" +
                    std::to_string(height));
    return reinterpret_cast<const FlutterDesktopGpuSurfaceDescriptor*>(
        surface_record);
  }));

  int64_t pixel_id = textures_->RegisterTexture(&pixels);
  int64_t surface_id = textures_->RegisterTexture(&surface);
  ASSERT_GE(pixel_id, 0);
  ASSERT_GE(surface_id, 0);
  EXPECT_NE(pixel_id, surface_id);
  EXPECT_EQ(StandinEngineTextureCount(handle_), 2);

  EXPECT_EQ(StandinEngineFetchTexture(handle_, pixel_id, 640, 480),
            static_cast<const void*>(pixel_record));
  EXPECT_EQ(StandinEngineFetchTexture(handle_, surface_id, 3, 4),
            static_cast<const void*>(surface_record));
  EXPECT_EQ(calls, (std::vector<std::string>{"pixels 640x480", "surface 3x4"}));

  EXPECT_TRUE(textures_->MarkTextureFrameAvailable(pixel_id));
  EXPECT_EQ(StandinEngineTextureFramesMarked(handle_, pixel_id), 1);

  EXPECT_TRUE(textures_->UnregisterTexture(pixel_id));
  int unregistered = 0;
  textures_->UnregisterTexture(surface_id, [&] { ++unregistered; });
  // Called once the engine has released the texture, on a later turn.
  EXPECT_EQ(unregistered, 0);
  StandinEngineRunTasks();
  EXPECT_EQ(unregistered, 1);
  EXPECT_EQ(StandinEngineTextureCount(handle_), 0);
}

TEST_F(EmbeddingTextureTest, UnknownSourceIsRefused) {
  StderrCapture capture;
  EXPECT_EQ(textures_->RegisterTexture(nullptr), -1);
  EXPECT_EQ(capture.err(), "Attempting to register unknown texture variant.\n");
  EXPECT_EQ(StandinEngineTextureCount(handle_), 0);
}

TEST_F(EmbeddingTextureTest, UnregisterByIdReleasesWithoutACallback) {
  TextureSource pixels(
      PixelBufferSource([](size_t, size_t) -> const FlutterDesktopPixelBuffer* {
        return nullptr;
      }));
  const int64_t id = textures_->RegisterTexture(&pixels);
  ASSERT_GE(id, 0);
  EXPECT_TRUE(textures_->UnregisterTexture(id));
  StandinEngineRunTasks();
  EXPECT_EQ(StandinEngineTextureCount(handle_), 0);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventTextureUnregistered, 0), 0);

  // An id the engine does not know still answers true; the engine was asked
  // (and reports the unknown id itself).
  EXPECT_TRUE(textures_->UnregisterTexture(id));
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);
}

TEST_F(EmbeddingTextureTest, ARegistrarWithoutAnEngineHandsNoNullToTheEngine) {
  TextureRegistrarImpl detached(nullptr);
  TextureSource pixels(
      PixelBufferSource([](size_t, size_t) -> const FlutterDesktopPixelBuffer* {
        return nullptr;
      }));
  EXPECT_EQ(detached.RegisterTexture(&pixels), -1);
  EXPECT_FALSE(detached.MarkTextureFrameAvailable(1));
  EXPECT_TRUE(detached.UnregisterTexture(1));
  bool called = false;
  detached.UnregisterTexture(1, [&] { called = true; });
  EXPECT_FALSE(called);
  // The fixture's misuse check fails the test if a null handle went out.
}

}  // namespace
}  // namespace flutter
