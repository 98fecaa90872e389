#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "writers/mp4/mp4_index.h"
#include "xtd/strview.h"

// The head of a progressive MP4 file with one H.264 track: ftyp, moov and the
// mdat box header, in front of the samples in index order. Everything in it
// follows from the index, so its size is known before a byte is written and
// the sample offsets it lists are final.

struct Mp4Track {
  xtd::strview sps, pps;        // from the stream header, NAL header byte included
  std::uint32_t width, height;  // display size; values past 65535 are clamped
};

// Samples per chunk: few chunk offsets, and a reader needs no more than this
// many sizes to find a sample.
inline constexpr std::uint32_t kMp4SamplesPerChunk = 32;
// The largest piece writeMp4Head hands its sink.
inline constexpr std::size_t kMp4HeadPieceSize = 64 * 1024;

// The bytes of ftyp, moov and the mdat header.
std::uint64_t mp4HeadSize(const Mp4Index& index, const Mp4Track& track);

// Writes ftyp, moov and the mdat header through `sink`, in pieces of at most
// kMp4HeadPieceSize bytes from a small buffer: the tables of a day's
// recording run to tens of MiB and are never held whole. False as soon as
// the sink returns false, and before any call to it when a parameter set is
// longer than kMaxAvcParameterSetSize.
bool writeMp4Head(const Mp4Index& index, const Mp4Track& track,
                  const std::function<bool(const char*, std::size_t)>& sink);
