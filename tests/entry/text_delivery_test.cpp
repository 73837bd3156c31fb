// Where the Windows program's texts go: its standard handles, the console of the program
// that started it, or message boxes, tried in that order.
#include "entry/text_delivery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mapsweep {
namespace {

using Stream = TextSinks::Stream;

// Offers whichever ways a test allows and records every call.
class FakeSinks final : public TextSinks {
 public:
  bool has_out = false;
  bool has_err = false;
  bool has_parent_console = false;
  bool console_writes = true;
  std::vector<std::string> calls;

  bool write_standard(Stream stream, const std::string& text) override {
    const bool out = stream == Stream::kOut;
    calls.push_back((out ? "out:" : "err:") + text);
    return out ? has_out : has_err;
  }
  bool attach_parent_console() override {
    calls.push_back("attach");
    return has_parent_console;
  }
  bool write_console(const std::string& text) override {
    calls.push_back("console:" + text);
    return console_writes;
  }
  void show_box(const std::string& text, bool error) override {
    calls.push_back((error ? "error box:" : "box:") + text);
  }
};

using Calls = std::vector<std::string>;

TEST(TextDelivery, GivenHandlesTakeTheTextsWithoutAConsole) {
  FakeSinks sinks;
  sinks.has_out = sinks.has_err = sinks.has_parent_console = true;
  deliver_texts("help\n", "oops\n", sinks);
  EXPECT_EQ(sinks.calls, (Calls{"out:help\n", "err:oops\n"}));
}

TEST(TextDelivery, WithoutHandlesTheParentConsoleIsAttachedOnceForBothTexts) {
  FakeSinks sinks;
  sinks.has_parent_console = true;
  deliver_texts("help\n", "oops\n", sinks);
  EXPECT_EQ(sinks.calls,
            (Calls{"out:help\n", "attach", "console:help\n", "err:oops\n", "console:oops\n"}));
}

TEST(TextDelivery, WithNeitherTheTextsGoIntoBoxesTheErrorOneMarked) {
  FakeSinks sinks;
  deliver_texts("help\n", "oops\n", sinks);
  EXPECT_EQ(sinks.calls,
            (Calls{"out:help\n", "attach", "box:help\n", "err:oops\n", "error box:oops\n"}));
}

TEST(TextDelivery, EmptyTextsGoNowhereAndAttachNothing) {
  FakeSinks sinks;
  sinks.has_parent_console = true;
  deliver_texts("", "", sinks);
  EXPECT_TRUE(sinks.calls.empty());
  deliver_texts("", "oops\n", sinks);
  EXPECT_EQ(sinks.calls, (Calls{"err:oops\n", "attach", "console:oops\n"}));
}

TEST(TextDelivery, EachStreamFindsItsOwnWay) {
  // Output redirected to a file from a console, the error output left to the console.
  FakeSinks sinks;
  sinks.has_out = true;
  sinks.has_parent_console = true;
  deliver_texts("help\n", "oops\n", sinks);
  EXPECT_EQ(sinks.calls, (Calls{"out:help\n", "err:oops\n", "attach", "console:oops\n"}));
}

TEST(TextDelivery, AFailedConsoleWriteFallsBackToABox) {
  FakeSinks sinks;
  sinks.has_parent_console = true;
  sinks.console_writes = false;
  deliver_texts("", "oops\n", sinks);
  EXPECT_EQ(sinks.calls, (Calls{"err:oops\n", "attach", "console:oops\n", "error box:oops\n"}));
}

TEST(TextDelivery, LinesEndInCrLfOnce) {
  EXPECT_EQ(with_crlf("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(with_crlf("a\r\nb\n\n"), "a\r\nb\r\n\r\n");
  EXPECT_EQ(with_crlf("\n"), "\r\n");
  EXPECT_EQ(with_crlf("no end"), "no end");
  EXPECT_EQ(with_crlf(""), "");
  // A lone CR is no line end of its own and is left alone.
  EXPECT_EQ(with_crlf("a\rb"), "a\rb");
}

}  // namespace
}  // namespace mapsweep
