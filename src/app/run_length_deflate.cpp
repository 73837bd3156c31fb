#include "app/run_length_deflate.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace mapsweep {
namespace {

constexpr std::uint32_t kAdlerModulus = 65521;
constexpr std::size_t kShortestRun = 3;
constexpr std::size_t kLongestRun = 258;
constexpr unsigned kEndOfBlock = 256;

// A code of deflate's fixed literal/length alphabet, its bits in the order they are
// written (deflate sends Huffman codes from their highest bit, the stream fills bytes from
// their lowest).
struct Code {
  std::uint16_t bits = 0;
  std::uint8_t length = 0;
};

constexpr std::uint16_t reversed(std::uint16_t code, int length) {
  std::uint16_t out = 0;
  for (int i = 0; i < length; ++i) out = static_cast<std::uint16_t>((out << 1) | ((code >> i) & 1));
  return out;
}

constexpr std::array<Code, 288> fixed_codes() {
  std::array<Code, 288> codes{};
  for (unsigned symbol = 0; symbol < 288; ++symbol) {
    unsigned code = 0;
    int length = 0;
    if (symbol < 144) {
      code = 0x30 + symbol, length = 8;
    } else if (symbol < 256) {
      code = 0x190 + symbol - 144, length = 9;
    } else if (symbol < 280) {
      code = symbol - 256, length = 7;
    } else {
      code = 0xC0 + symbol - 280, length = 8;
    }
    codes[symbol] = {reversed(static_cast<std::uint16_t>(code), length),
                     static_cast<std::uint8_t>(length)};
  }
  return codes;
}
constexpr std::array<Code, 288> kFixedCodes = fixed_codes();

// A run's length as written: its symbol's code, then the extra bits above the symbol's base.
struct LengthCode {
  std::uint32_t bits = 0;
  std::uint8_t length = 0;
};

constexpr std::array<LengthCode, kLongestRun + 1> length_codes() {
  constexpr std::uint16_t kBase[] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                     15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                     67, 83, 99, 115, 131, 163, 195, 227, 258};
  constexpr std::uint8_t kExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  std::array<LengthCode, kLongestRun + 1> codes{};
  for (std::size_t length = kShortestRun; length <= kLongestRun; ++length) {
    std::size_t index = std::size(kBase) - 1;
    while (kBase[index] > length) --index;
    const Code& symbol = kFixedCodes[257 + index];
    const std::uint32_t extra = static_cast<std::uint32_t>(length - kBase[index]);
    codes[length] = {symbol.bits | (extra << symbol.length),
                     static_cast<std::uint8_t>(symbol.length + kExtra[index])};
  }
  return codes;
}
constexpr std::array<LengthCode, kLongestRun + 1> kLengthCodes = length_codes();

// The distance of every copy, 1, is distance code 0: five zero bits.
constexpr int kDistanceOneBits = 5;

class BitWriter {
 public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void put(std::uint32_t bits, int length) {
    pending_ |= static_cast<std::uint64_t>(bits) << count_;
    count_ += length;
    if (count_ >= 32) {
      for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>(pending_ >> (8 * i)));
      pending_ >>= 32;
      count_ -= 32;
    }
  }
  void finish() {
    for (; count_ > 0; count_ -= 8) {
      out_.push_back(static_cast<char>(pending_));
      pending_ >>= 8;
    }
    count_ = 0;
  }

 private:
  std::string& out_;
  std::uint64_t pending_ = 0;
  int count_ = 0;
};

// Adler-32 as the bytes are written; a run is taken in at once.
class Adler {
 public:
  void literal(std::uint8_t byte) {
    a_ = (a_ + byte) % kAdlerModulus;
    b_ = (b_ + a_) % kAdlerModulus;
  }
  // `count` bytes of `byte`: the sums of a_ after each, 1 to count, added to b_.
  void run(std::uint8_t byte, std::uint64_t count) {
    b_ = static_cast<std::uint32_t>((b_ + count * a_ + byte * count * (count + 1) / 2) %
                                    kAdlerModulus);
    a_ = static_cast<std::uint32_t>((a_ + count * byte) % kAdlerModulus);
  }
  std::uint32_t value() const { return (b_ << 16) | a_; }

 private:
  std::uint32_t a_ = 1;
  std::uint32_t b_ = 0;
};

// How many bytes from `at` repeat `byte`, at most kLongestRun: compared a word at a time
// on a little-endian machine.
std::size_t run_length(std::string_view bytes, std::size_t at, std::uint8_t byte) {
  const std::size_t limit = std::min(bytes.size() - at, kLongestRun);
  std::size_t length = 0;
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t repeated = 0x0101010101010101ull * byte;
    while (length + 8 <= limit) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + at + length, 8);
      if (const std::uint64_t differing = word ^ repeated; differing != 0) {
        return length + static_cast<std::size_t>(std::countr_zero(differing) / 8);
      }
      length += 8;
    }
  }
  while (length < limit && static_cast<std::uint8_t>(bytes[at + length]) == byte) ++length;
  return length;
}

}  // namespace

void append_run_length_zlib(std::string_view bytes, std::string& out) {
  // Deflate with a 32 KiB window, no preset dictionary; the check bits make the header a
  // multiple of 31.
  out += "\x78\x01";
  BitWriter writer(out);
  Adler adler;
  writer.put(1, 1);  // the last block
  writer.put(1, 2);  // of fixed codes
  for (std::size_t at = 0; at < bytes.size();) {
    if (at > 0) {
      const auto before = static_cast<std::uint8_t>(bytes[at - 1]);
      const std::size_t run = run_length(bytes, at, before);
      if (run >= kShortestRun) {
        const LengthCode& code = kLengthCodes[run];
        writer.put(code.bits, code.length);
        writer.put(0, kDistanceOneBits);
        adler.run(before, run);
        at += run;
        continue;
      }
    }
    const auto byte = static_cast<std::uint8_t>(bytes[at++]);
    writer.put(kFixedCodes[byte].bits, kFixedCodes[byte].length);
    adler.literal(byte);
  }
  writer.put(kFixedCodes[kEndOfBlock].bits, kFixedCodes[kEndOfBlock].length);
  writer.finish();
  const std::uint32_t check = adler.value();
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(check >> shift));
}

}  // namespace mapsweep
