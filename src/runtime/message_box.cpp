#include "runtime/message_box.h"

#include "runtime/runtime.h"

namespace mapsweep {
namespace {

class UnshownDialog final : public os::Dialog {
 public:
  int show(const std::string&, const std::string&, std::uint32_t) override { return 0; }
};

}  // namespace

int message_box(Runtime& rt, const ByteString& text, const ByteString& title, std::uint32_t style) {
  std::string shown_title(os::up_to_nul(title));
  if (shown_title.empty()) shown_title = kDefaultCaption;
  return rt.dialog.show(std::string(os::up_to_nul(text)), shown_title, style & 0xFFFF);
}

std::unique_ptr<os::Dialog> make_unshown_dialog() {
  return std::make_unique<UnshownDialog>();
}

}  // namespace mapsweep
