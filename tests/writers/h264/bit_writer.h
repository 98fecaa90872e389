#pragma once

// Composes H.264 bit strings for the parser tests: u(n), ue, se written
// MSB first, independently of the reader under test.

#include <cstddef>
#include <cstdint>
#include <vector>

class BitWriter {
public:
  BitWriter& u(int n, std::uint64_t value) {
    for (int i = n - 1; i >= 0; --i) bit(static_cast<int>((value >> i) & 1u));
    return *this;
  }
  BitWriter& flag(bool set) { return u(1, set ? 1 : 0); }
  // Exp-Golomb: as many zeros as the bits of value + 1 after its top bit.
  BitWriter& ue(std::uint64_t value) {
    const std::uint64_t code = value + 1;
    int length = 0;
    while ((code >> length) != 0) ++length;
    u(length - 1, 0);
    return u(length, code);
  }
  BitWriter& se(std::int64_t value) {
    return ue(value > 0 ? static_cast<std::uint64_t>(2 * value - 1) : static_cast<std::uint64_t>(-2 * value));
  }
  BitWriter& zeros(int n) { return u(n, 0); }
  BitWriter& trailing() {
    bit(1);
    while (bits_ % 8 != 0) bit(0);
    return *this;
  }

  std::size_t bits() const { return bits_; }
  // The bit string padded with zeros to whole bytes.
  std::vector<std::uint8_t> rbsp() const { return bytes_; }
  // A NAL unit: header byte, then the payload with emulation prevention.
  std::vector<std::uint8_t> nal(std::uint8_t header) const {
    std::vector<std::uint8_t> out{header};
    int zeroRun = 0;
    for (std::uint8_t b : bytes_) {
      if (zeroRun >= 2 && b <= 3) {
        out.push_back(3);
        zeroRun = 0;
      }
      out.push_back(b);
      zeroRun = b == 0 ? zeroRun + 1 : 0;
    }
    return out;
  }

private:
  void bit(int b) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80u >> (bits_ % 8)));
    ++bits_;
  }

  std::vector<std::uint8_t> bytes_;
  std::size_t bits_ = 0;
};
