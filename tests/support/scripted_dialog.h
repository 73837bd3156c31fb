// A dialog for tests: answers each box from a script (0, "cannot be shown", once the script
// runs out) and records every box it was asked to show.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "runtime/platform/os.h"

namespace mapsweep::testing {

struct ShownBox {
  std::string text;
  std::string title;
  std::uint32_t style;
};

class ScriptedDialog final : public os::Dialog {
 public:
  explicit ScriptedDialog(std::deque<int> answers = {}) : answers_(std::move(answers)) {}

  int show(const std::string& text, const std::string& title, std::uint32_t style) override {
    shown_.push_back({text, title, style});
    if (answers_.empty()) return 0;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  const std::vector<ShownBox>& shown() const { return shown_; }

 private:
  std::deque<int> answers_;
  std::vector<ShownBox> shown_;
};

}  // namespace mapsweep::testing
