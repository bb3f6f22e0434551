// Scenario parsing of the scripted user interface.
#include "standins/scripted_ui/scenario.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using standin::EntrySignature;
using standin::ParseScenario;
using standin::StepKind;

TEST(ScenarioTest, ParsesEveryStepKind) {
  standin::Scenario scenario = ParseScenario(
      "\xEF\xBB\xBF# comment line\r\n"
      "print-args\r\n"
      "\n"
      "  show  \n"
      "wait 250\n"
      "send frame/window 0a 0B ff\n"
      "send empty/channel\n"
      "call frame_window_api\n"
      "table frame_window_api public 3 void(i32,i32) -800 0x258\n"
      "table frame_window_api private 0 bool()\n"
      "table api public 2 void(bool) true\n"
      "post 0x0112 0xF020 -1\n"
      "frame-move 10 20 800 600 0x14\n"
      "frame-title  Hello  world \n"
      "frame-refresh\n"
      "frame-action 9\n"
      "window\n"
      "view\n"
      "echo marker one\n"
      "reply-timeout 100\n"
      "method analytics_plugin trackEvent {\"eventName\": \"x\"}\n"
      "method analytics_plugin flush\n"
      "destroy\n");
  EXPECT_TRUE(scenario.errors.empty()) << scenario.errors[0];
  std::vector<StepKind> kinds;
  for (const standin::Step& step : scenario.steps) {
    kinds.push_back(step.kind);
  }
  EXPECT_EQ(kinds, (std::vector<StepKind>{
                       StepKind::kPrintArgs,    StepKind::kShow,
                       StepKind::kWait,         StepKind::kSend,
                       StepKind::kSend,         StepKind::kCall,
                       StepKind::kTable,        StepKind::kTable,
                       StepKind::kTable,        StepKind::kPost,
                       StepKind::kFrameMove,    StepKind::kFrameTitle,
                       StepKind::kFrameRefresh, StepKind::kFrameAction,
                       StepKind::kWindow,       StepKind::kView,
                       StepKind::kEcho,         StepKind::kReplyTimeout,
                       StepKind::kMethod,       StepKind::kMethod,
                       StepKind::kDestroy}));
  const auto& steps = scenario.steps;
  EXPECT_EQ(steps[0].line, 2);
  EXPECT_EQ(steps[1].text, "show");
  EXPECT_EQ(steps[2].numbers, std::vector<int64_t>{250});
  EXPECT_EQ(steps[3].name, "frame/window");
  EXPECT_EQ(steps[3].bytes, (std::vector<uint8_t>{0x0a, 0x0b, 0xff}));
  EXPECT_TRUE(steps[4].bytes.empty());
  EXPECT_EQ(steps[6].table, 0);
  EXPECT_EQ(steps[6].index, 3);
  EXPECT_EQ(steps[6].signature, EntrySignature::kVoidInt32Int32);
  EXPECT_EQ(steps[6].numbers, (std::vector<int64_t>{-800, 600}));
  EXPECT_EQ(steps[7].table, 1);
  EXPECT_EQ(steps[8].numbers, std::vector<int64_t>{1});
  EXPECT_EQ(steps[9].numbers, (std::vector<int64_t>{0x112, 0xF020, -1}));
  EXPECT_EQ(steps[10].numbers, (std::vector<int64_t>{10, 20, 800, 600, 0x14}));
  EXPECT_EQ(steps[11].name, " Hello  world ") << "the title keeps its blanks";
  EXPECT_EQ(steps[13].numbers, std::vector<int64_t>{9});
  EXPECT_EQ(steps[16].text, "echo marker one");
  EXPECT_EQ(steps[18].method, "trackEvent");
  EXPECT_EQ(steps[18].value_text, "{\"eventName\": \"x\"}");
  EXPECT_EQ(steps[19].value_text, "null");
}

TEST(ScenarioTest, ReportsBadLinesAndKeepsTheRest) {
  standin::Scenario scenario = ParseScenario(
      "bogus\n"
      "wait\n"
      "wait -5\n"
      "send ch 0a0\n"
      "send ch zz\n"
      "table api middle 0 bool()\n"
      "table api public 0 int()\n"
      "table api public 0 void(i32) 1 2\n"
      "table api public 0 void(i32) 4294967296\n"
      "table api public 0 void(bool) maybe\n"
      "post 1 2\n"
      "frame-move 1 2 3 4 0x100000000\n"
      "method ch\n"
      "show\n");
  ASSERT_EQ(scenario.steps.size(), 1u);
  EXPECT_EQ(scenario.steps[0].line, 14);
  ASSERT_EQ(scenario.errors.size(), 13u);
  EXPECT_EQ(scenario.errors[0], "line 1: unknown step: bogus");
  EXPECT_EQ(scenario.errors[12].rfind("line 13: ", 0), 0u);
}

TEST(ScenarioTest, ScreenshotTakesTheRestOfTheLineAsItsPath) {
  standin::Scenario scenario = ParseScenario(
      "screenshot   C:\\My Pictures\\shot one.bmp  \r\n"
      "screenshot\n"
      "screenshot   \t\n"
      "screenshot Z:\\tmp\\a.bmp\n");
  ASSERT_EQ(scenario.steps.size(), 2u);
  EXPECT_EQ(scenario.steps[0].kind, StepKind::kScreenshot);
  EXPECT_EQ(scenario.steps[0].name, "C:\\My Pictures\\shot one.bmp")
      << "blanks inside the path stay, blanks around it go";
  EXPECT_EQ(scenario.steps[0].text,
            "screenshot   C:\\My Pictures\\shot one.bmp");
  EXPECT_EQ(scenario.steps[1].name, "Z:\\tmp\\a.bmp");
  EXPECT_EQ(scenario.steps[1].line, 4);
  EXPECT_EQ(scenario.errors,
            (std::vector<std::string>{"line 2: screenshot needs a file path",
                                      "line 3: screenshot needs a file path"}));
}

TEST(ScenarioTest, IntegersAndHex) {
  int64_t value = 0;
  EXPECT_TRUE(standin::ParseInteger("-0x10", &value));
  EXPECT_EQ(value, -16);
  EXPECT_TRUE(standin::ParseInteger("0xFFFFFFFFFFFFFFFF", &value));
  EXPECT_EQ(value, -1) << "hex spells a 64-bit pattern";
  EXPECT_FALSE(standin::ParseInteger("9223372036854775808", &value));
  EXPECT_FALSE(standin::ParseInteger("0x", &value));
  EXPECT_FALSE(standin::ParseInteger("12a", &value));
  EXPECT_FALSE(standin::ParseInteger("", &value));
  EXPECT_EQ(standin::HexBytes(reinterpret_cast<const uint8_t*>("\x01\xab"), 2),
            "01ab");
  EXPECT_EQ(standin::EscapeText("a]b\\c\nd\x7f"), "a\\x5db\\x5cc\\x0ad\\x7f");
}

}  // namespace
