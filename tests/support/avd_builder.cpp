#include "tests/support/avd_builder.h"

#include "xtd/byte_order.h"

namespace avdtest {

std::string le32(std::uint32_t value) {
  std::string s(4, '\0');
  xtd::store_le32(s.data(), value);
  return s;
}

std::string streamHeaderPayload(std::uint32_t codec, const std::string& opaque, const std::string& codecBlock) {
  return le32(0xAAAAAAAA) + le32(0x55555555) + le32(codec) + le32(static_cast<std::uint32_t>(opaque.size())) +
         opaque + codecBlock;
}

AvdBuilder& AvdBuilder::record(std::uint8_t type, const std::string& payload, std::uint32_t seconds,
                               std::uint32_t microseconds) {
  bytes_ += le32(type | static_cast<std::uint32_t>(payload.size()) << 8);
  bytes_ += le32(seconds);
  bytes_ += le32(microseconds);
  bytes_ += payload;
  return *this;
}

AvdBuilder& AvdBuilder::mjpegHeader(std::uint32_t fps, std::uint32_t width, std::uint32_t height,
                                    const std::string& opaque) {
  return record(0, streamHeaderPayload(2, opaque, le32(fps) + le32(width) + le32(height)), 1000);
}

AvdBuilder& AvdBuilder::h264Header(const std::string& sps, const std::string& pps, const std::string& opaque) {
  const std::string block =
      le32(static_cast<std::uint32_t>(sps.size())) + sps + le32(static_cast<std::uint32_t>(pps.size())) + pps;
  return record(0, streamHeaderPayload(1, opaque, block), 1000);
}

AvdBuilder& AvdBuilder::frame(const std::string& payload, std::uint32_t seconds, std::uint32_t microseconds,
                              std::uint8_t type) {
  return record(type, payload, seconds, microseconds);
}

AvdBuilder& AvdBuilder::raw(const std::string& bytes) {
  bytes_ += bytes;
  return *this;
}

}  // namespace avdtest
