#include "writers/mp4_writer.h"

#include <cstring>
#include <new>

#include "writers/h264/avc_config.h"
#include "writers/h264/nal_unit.h"
#include "writers/h264/picture_size.h"
#include "writers/mp4/mp4_boxes.h"
#include "archive/stream_header.h"
#include "xtd/byte_order.h"

namespace {

// An archive frame is one FLV video tag: its 11-byte header, the video tag
// header (frame type and codec, packet type, composition time), the NAL
// units with their 4-byte lengths, and the 4-byte size of the tag.
constexpr std::uint32_t kTagHeaderSize = 11;
constexpr std::uint32_t kSampleOffset = kTagHeaderSize + 5;
constexpr std::uint32_t kTrailerSize = 4;
constexpr std::uint8_t kAvcCodecId = 7;
constexpr std::uint8_t kNalUnits = 1;
constexpr std::uint8_t kEndOfSequence = 2;

enum class Frame : std::uint8_t { Sample, EndOfSequence, Other };

// What a frame holds for an MP4 file: NAL units (a sample), the end of the
// sequence (nothing to show), or anything else (nothing an MP4 sample can
// carry).
Frame classify(const xtd::strview& frame) {
  if (frame.length < kSampleOffset + kTrailerSize) return Frame::Other;
  const auto videoHeader = static_cast<std::uint8_t>(frame.data[kTagHeaderSize]);
  const auto packetType = static_cast<std::uint8_t>(frame.data[kTagHeaderSize + 1]);
  if ((videoHeader & 0x0F) != kAvcCodecId) return Frame::Other;
  if (packetType == kEndOfSequence) return Frame::EndOfSequence;
  return packetType == kNalUnits && frame.length > kSampleOffset + kTrailerSize ? Frame::Sample : Frame::Other;
}

xtd::strview sampleOf(const xtd::strview& frame) {
  return xtd::strview(frame.data + kSampleOffset, frame.length - kSampleOffset - kTrailerSize);
}

// FLV's composition time: signed 24 bits, big-endian, in milliseconds.
std::int32_t compositionMs(const xtd::strview& frame) {
  const std::uint32_t raw = xtd::load_be24(frame.data + kTagHeaderSize + 2);
  return static_cast<std::int32_t>(raw ^ 0x800000u) - 0x800000;
}

}  // namespace

MP4Writer::MP4Writer(xtd::wstrview archivePath)
    : StagedWriter(archivePath, u"mp4") {}

bool MP4Writer::acceptsHeader(const xtd::strview* header) {
  StreamHeader h;
  if (!parseStreamHeader(*header, h) || h.codec != StreamHeader::kH264 || !fitsAvcConfiguration(h.sps, h.pps)) {
    return refuse(WriteFailure::Kind::Header);
  }
  return true;
}

bool MP4Writer::open(const xtd::strview* header) {
  if (opened_ || failed() || !acceptsHeader(header)) return false;
  StreamHeader h;
  parseStreamHeader(*header, h);
  sps_.assign(h.sps);
  pps_.assign(h.pps);
  H264ParseContext context;
  parseNalUnit(h.sps.length, reinterpret_cast<const std::uint8_t*>(h.sps.data), context);
  std::int32_t width = 0, height = 0;
  displayPictureSize(context.seqParameterSet(), width, height);
  width_ = static_cast<std::uint32_t>(width);
  height_ = static_cast<std::uint32_t>(height);

  if (!output_->create()) return refuseOutput();
  buffer_.reset(new (std::nothrow) char[kBufferSize]);
  if (!buffer_) {
    platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::OutOfMemory));
    return refuseOutput();
  }
  opened_ = true;
  return true;
}

bool MP4Writer::indexFrame(const xtd::strview* frame, std::uint32_t seconds, std::uint32_t microseconds, int kind) {
  // Unopened in a dry run, which only asks.
  if (headWritten_ || failed()) return false;
  switch (classify(*frame)) {
    case Frame::EndOfSequence:
      return true;
    case Frame::Other:
      return refuse(WriteFailure::Kind::Unsupported);
    case Frame::Sample:
      break;
  }
  if (index_.count() == Mp4Index::kMaxSamples) return refuse(WriteFailure::Kind::Limit);
  const std::int64_t capture = std::int64_t{seconds} * 1000000 + microseconds;
  // Kind 1 is a key frame, as FLV numbers frame types.
  index_.add(sampleOf(*frame).length, capture, compositionMs(*frame), kind == 1);
  return true;
}

bool MP4Writer::writeHead() {
  const Mp4Track track{sps_.view(), pps_.view(), width_, height_};
  headWritten_ = true;
  if (!writeMp4Head(index_, track, [this](const char* data, std::size_t size) {
        return append(data, static_cast<std::uint32_t>(size));
      })) {
    return refuseOutput();
  }
  return true;
}

bool MP4Writer::writeFrame(const xtd::strview* frame, const std::uint32_t* /*ticks*/, int /*kind*/) {
  if (!opened_ || completed_ || failed()) return false;
  if (!headWritten_ && !writeHead()) return false;
  const Frame what = classify(*frame);
  if (what == Frame::EndOfSequence) return true;
  // The archive must hold what the first pass found in it.
  const xtd::strview sample = what == Frame::Sample ? sampleOf(*frame) : xtd::strview();
  if (what != Frame::Sample || written_ >= index_.count() || sample.length != index_.size(written_)) {
    return refuse(WriteFailure::Kind::Changed);
  }
  if (written_ > 0) frameTime_ += index_.duration(written_ - 1);
  ++written_;
  return append(sample.data, sample.length);
}

bool MP4Writer::append(const char* data, std::uint32_t size) {
  if (size > kBufferSize - held_) {
    if (!flush()) return false;
    // Too large to stage: straight from the archive's buffer to the file.
    if (size > kBufferSize) return writeOut(data, size);
  }
  std::memcpy(buffer_.get() + held_, data, size);
  held_ += size;
  return true;
}

bool MP4Writer::flush() {
  const bool ok = held_ == 0 || writeOut(buffer_.get(), held_);
  held_ = 0;
  return ok;
}

bool MP4Writer::writeOut(const char* data, std::uint32_t size) {
  return output_->write(data, size) || refuseOutput();
}

bool MP4Writer::complete(const platform::FileStatus* archive) {
  if (!opened_ || completed_ || failed()) return false;
  if (!headWritten_ && !writeHead()) return false;
  if (written_ != index_.count()) return refuse(WriteFailure::Kind::Changed);
  if (!flush()) return false;
  if (!sealOutput(archive)) return false;
  // What stays in memory until the commit is the handle and the names.
  buffer_.reset();
  completed_ = true;
  return true;
}

std::unique_ptr<StagedFile> MP4Writer::takeOutput() {
  if (!completed_) return nullptr;
  completed_ = false;
  opened_ = false;
  return std::move(output_);
}
