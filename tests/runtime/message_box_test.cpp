// The message box as the runtime hands it to a dialog, and the program entry around a run.
#include "runtime/message_box.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "runtime/program_entry.h"
#include "runtime/runtime.h"

namespace mapsweep {
namespace {

using namespace std::string_literals;

class RecordingDialog final : public os::Dialog {
 public:
  int answer = kButtonYes;
  std::string text, title;
  std::uint32_t style = 0xFFFFFFFF;
  int show(const std::string& t, const std::string& c, std::uint32_t s) override {
    text = t;
    title = c;
    style = s;
    return answer;
  }
};

// An OS that no box test should reach.
class NoOs final : public os::Os {
 public:
  os::Result create_file(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t) override {
    return refuse();
  }
  os::Result read_file(os::Handle, void*, std::uint32_t) override { return refuse(); }
  os::Result read_file_at(os::Handle, std::int64_t, void*, std::uint32_t) override {
    return refuse();
  }
  os::Result write_file(os::Handle, const void*, std::uint32_t) override { return refuse(); }
  os::Result set_file_pointer(os::Handle, std::int64_t) override { return refuse(); }
  os::Result set_end_of_file(os::Handle) override { return refuse(); }
  os::Result file_size(os::Handle) override { return refuse(); }
  os::Result file_type(os::Handle) override { return refuse(); }
  os::Result close_handle(os::Handle) override { return refuse(); }
  os::Result find_first(const std::string&, os::FindData&) override { return refuse(); }
  os::Result find_next(os::Handle, os::FindData&) override { return refuse(); }
  os::Result find_close(os::Handle) override { return refuse(); }
  os::Result set_current_directory(const std::string&) override { return refuse(); }
  os::Result delete_file(const std::string&) override { return refuse(); }
  os::Result full_path(const std::string&, std::string&) override { return refuse(); }
  os::Result file_attributes(const std::string&) override { return refuse(); }
  os::Result replace_file(const std::string&, const std::string&) override { return refuse(); }
  os::Result settle_ownership(os::Handle, os::Handle) override { return refuse(); }
  os::Result lock_folder(const std::string&) override { return refuse(); }
  os::Result unlock_folder(os::Handle) override { return refuse(); }
  os::Result encloses_current_directory(const std::string&) override { return refuse(); }

 private:
  static os::Result refuse() {
    ADD_FAILURE() << "unexpected OS call";
    return {0, os::kErrorAccessDenied};
  }
};

TEST(MessageBox, ShowsOnlyTheBytesBeforeTheFirstNul) {
  NoOs os;
  RecordingDialog dialog;
  Runtime rt(os, dialog);
  EXPECT_EQ(message_box(rt, "Starten ?\0hidden"s, "https://mapsweep.example/\0x"s, kStyleYesNo),
            kButtonYes);
  EXPECT_EQ(dialog.text, "Starten ?");
  EXPECT_EQ(dialog.title, "https://mapsweep.example/");
  EXPECT_EQ(dialog.style, kStyleYesNo);
}

TEST(MessageBox, AnEmptyTitleShowsTheDefaultCaption) {
  NoOs os;
  RecordingDialog dialog;
  Runtime rt(os, dialog);
  dialog.answer = kButtonOk;
  EXPECT_EQ(message_box(rt, "Programmende", "", kStyleOk), kButtonOk);
  EXPECT_EQ(dialog.title, kDefaultCaption);
  message_box(rt, "x", "\0after"s, kStyleOk);
  EXPECT_EQ(dialog.title, kDefaultCaption) << "a title that is empty before its NUL";
  message_box(rt, "x", " ", 0x10004);
  EXPECT_EQ(dialog.title, " ");
  EXPECT_EQ(dialog.style, kStyleYesNo) << "only the low 16 bits of the style count";
}

TEST(MessageBox, ABoxThatCannotBeShownAnswersZeroWithoutAnError) {
  NoOs os;
  auto dialog = make_unshown_dialog();
  Runtime rt(os, *dialog);
  EXPECT_EQ(message_box(rt, "Starten ?", "", kStyleYesNo), 0);
  EXPECT_FALSE(rt.err.pending());
}

TEST(ProgramEntry, ReturnsZeroOnEveryPath) {
  NoOs os;
  RecordingDialog dialog;
  EXPECT_EQ(program_entry(os, dialog,
                          [](Runtime& rt) {
                            EXPECT_FALSE(rt.err.pending());
                            EXPECT_EQ(rt.err.armed(), kNoRecovery);
                            EXPECT_TRUE(rt.channels.open.empty());
                          }),
            0);
  EXPECT_EQ(program_entry(os, dialog, [](Runtime&) { throw Trap{2}; }), 0);
  EXPECT_EQ(program_entry(os, dialog, [](Runtime&) { throw std::bad_alloc(); }), 0);
  EXPECT_EQ(program_entry(os, dialog,
                          [](Runtime& rt) {
                            rt.err.arm_recovery(1);
                            rt.err.raise_error(rt_error::kFileNotFound);
                          }),
            0);
}

}  // namespace
}  // namespace mapsweep
