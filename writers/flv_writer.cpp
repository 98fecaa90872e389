#include "writers/flv_writer.h"

#include <cstring>

#include "writers/flv_header_block.h"
#include "writers/h264/avc_config.h"
#include "writers/h264/nal_unit.h"
#include "writers/h264/picture_size.h"
#include "archive/stream_header.h"
#include "xtd/byte_order.h"
#include "xtd/olwstream.h"

namespace {

constexpr std::uint32_t kTimestampOffset = 4;
constexpr std::uint32_t kTagBodyOffset = 8;

// The picture size the sequence parameter set codes, in whole macroblocks.
void pictureSize(xtd::strview sps, std::int32_t& width, std::int32_t& height) {
  H264ParseContext context;
  parseNalUnit(sps.length, reinterpret_cast<const std::uint8_t*>(sps.data), context);
  codedPictureSize(context.seqParameterSet(), width, height);
}

}  // namespace

FLVWriter::FLVWriter(xtd::wstrview archivePath)
    : StagedWriter(archivePath, u"flv") {}

bool FLVWriter::acceptsHeader(const xtd::strview* header) {
  StreamHeader h;
  if (!parseStreamHeader(*header, h) || h.codec != StreamHeader::kH264 || !fitsAvcConfiguration(h.sps, h.pps)) {
    return refuse(WriteFailure::Kind::Header);
  }
  return true;
}

bool FLVWriter::open(const xtd::strview* header) {
  if (opened_ || failed() || !acceptsHeader(header)) return false;
  StreamHeader h;
  parseStreamHeader(*header, h);
  pictureSize(h.sps, width_, height_);

  FlvHeaderBlock block;
  durationOffset_ = block.appendMetaData(width_, height_, 0.0);
  if (!block.appendAvcSequenceHeader(h.sps, h.pps)) return refuse(WriteFailure::Kind::Header);
  headerBlock_ = block.takeBuffer();

  if (!output_->create()) return refuseOutput();

  buffer_ = std::make_unique<xtd::dstringbuf>();
  buffer_->reset(kBufferCapacity);
  if (buffer_->write_bytes(headerBlock_.data(), headerBlock_.length()) != headerBlock_.length()) {
    return refuseOutput();
  }
  pending_ += headerBlock_.length();
  opened_ = true;
  return true;
}

bool FLVWriter::writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int /*kind*/) {
  if (!opened_ || completed_ || failed()) return false;
  if (!started_) {
    started_ = true;
    startTicks_ = *ticks;
  }
  const std::uint32_t ms = 10u * (*ticks - startTicks_);

  // Tag type and data size as recorded; a payload too short to hold them is
  // completed with zeros rather than read past its end.
  char head[kTimestampOffset] = {};
  const std::uint32_t headLength = frame->length < kTimestampOffset ? frame->length : kTimestampOffset;
  for (std::uint32_t i = 0; i < headLength; ++i) head[i] = frame->data[i];
  // 24 bits big-endian, then the extended byte with bits 24 to 31.
  char stamp[4];
  xtd::store_be24(stamp, ms);
  stamp[3] = static_cast<char>(ms >> 24);

  const std::uint32_t body = frame->length > kTagBodyOffset ? frame->length - kTagBodyOffset : 0;
  const std::uint64_t size = std::uint64_t{kTagBodyOffset} + body;
  if (pending_ + size > kBufferCapacity && !flush()) return false;
  previousMs_ = lastMs_;
  lastMs_ = ms;
  ++frames_;
  if (size > kBufferCapacity) {
    // Too large to stage: straight from the archive's buffer to the file.
    char tag[kTagBodyOffset];
    std::memcpy(tag, head, kTimestampOffset);
    std::memcpy(tag + kTimestampOffset, stamp, 4);
    return writeOut(tag, kTagBodyOffset) && writeOut(frame->data + kTagBodyOffset, body);
  }

  xtd::olwstream out(buffer_.get());
  out.write(head, kTimestampOffset);
  out.write(stamp, 4);
  if (body != 0) out.write(frame->data + kTagBodyOffset, static_cast<std::int32_t>(body));
  if (out.fail()) return refuseOutput();
  pending_ += size;
  if (pending_ > kFlushThreshold && !flush()) return false;
  return true;
}

std::int64_t FLVWriter::endTime() const {
  // A lone frame lasts a frame of 25 per second.
  const std::int64_t last = frames_ > 1 ? std::int64_t{lastMs_} - previousMs_ : 40;
  return (std::int64_t{lastMs_} + (last > 0 ? last : 0)) * 1000;
}

bool FLVWriter::flush() {
  // Everything held lies in the buffer's storage: nothing is gathered.
  const xtd::dstring& held = buffer_->str();
  const bool written = held.length() == 0 || writeOut(held.data(), held.length());
  buffer_->reset(kBufferCapacity);
  pending_ = 0;
  return written;
}

bool FLVWriter::writeOut(const char* data, std::uint32_t size) {
  if (!output_->write(data, size)) return refuseOutput();
  written_ += size;
  return true;
}

bool FLVWriter::complete(const platform::FileStatus* archive) {
  if (!opened_ || completed_ || failed()) return false;
  platform::FileApi& fs = platform::files();
  // Whole seconds, as the last frame's timestamp says.
  const double duration = static_cast<double>(static_cast<std::int32_t>(lastMs_) / 1000);
  bool complete;
  if (written_ == 0) {
    // Everything is still in memory, the header block first: the duration
    // goes in there, and the file is written in one piece.
    complete = putDoubleBE(buffer_->str(), durationOffset_, duration) && flush();
  } else {
    complete = (pending_ == 0 || flush()) && putDoubleBE(headerBlock_, durationOffset_, duration) &&
               fs.seek(output_->handle(), 0) && fs.write(output_->handle(), headerBlock_.data(), headerBlock_.length());
  }
  if (!complete) return refuseOutput();
  if (!sealOutput(archive)) return false;
  // The file now holds everything: what stays in memory until the commit is
  // the handle and the names. The rest is written back by the commit's
  // flush, with the batch's: one start of write-back per small file costs
  // more than it spares.
  buffer_.reset();
  headerBlock_ = xtd::dstring();
  completed_ = true;
  return true;
}

std::unique_ptr<StagedFile> FLVWriter::takeOutput() {
  if (!completed_) return nullptr;
  completed_ = false;
  opened_ = false;
  return std::move(output_);
}
