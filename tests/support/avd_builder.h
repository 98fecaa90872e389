#pragma once

#include <cstdint>
#include <string>

namespace avdtest {

// Builds archive bytes record by record, as a recorder would write them.
class AvdBuilder {
 public:
  // A record with any type byte and payload.
  AvdBuilder& record(std::uint8_t type, const std::string& payload, std::uint32_t seconds = 0,
                     std::uint32_t microseconds = 0);
  // The stream header of an MJPEG archive.
  AvdBuilder& mjpegHeader(std::uint32_t fps, std::uint32_t width, std::uint32_t height,
                          const std::string& opaque = "");
  // The stream header of an H.264 archive.
  AvdBuilder& h264Header(const std::string& sps, const std::string& pps, const std::string& opaque = "");
  // A frame record (type 1 unless given).
  AvdBuilder& frame(const std::string& payload, std::uint32_t seconds, std::uint32_t microseconds = 0,
                    std::uint8_t type = 1);
  // Bytes appended as they are (garbage, a cut-off record).
  AvdBuilder& raw(const std::string& bytes);

  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

std::string le32(std::uint32_t value);
// The payload of a stream header: two unread words, codec, opaque block, codec block.
std::string streamHeaderPayload(std::uint32_t codec, const std::string& opaque, const std::string& codecBlock);

}  // namespace avdtest
