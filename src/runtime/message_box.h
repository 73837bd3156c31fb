// The message box, shown through whichever dialog the runtime was given: the OS's own,
// one that cannot show anything, or a scripted one in tests.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/byte_string.h"
#include "runtime/platform/os.h"

namespace mapsweep {

struct Runtime;

inline constexpr char kDefaultCaption[] = "mapsweep";
inline constexpr std::uint32_t kStyleOk = 0;
inline constexpr std::uint32_t kStyleYesNo = 4;
inline constexpr std::uint32_t kStyleErrorIcon = 0x10;  // the box reports a failure
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonYes = 6;
inline constexpr int kButtonNo = 7;

// Shows text and title up to their first NUL (the default caption for an empty title) with
// the low 16 bits of style; returns the button code, 0 when no box can be shown.
int message_box(Runtime& rt, const ByteString& text, const ByteString& title, std::uint32_t style);

// A dialog for runs where no box can be shown: every box answers 0, nothing is printed.
std::unique_ptr<os::Dialog> make_unshown_dialog();

}  // namespace mapsweep
