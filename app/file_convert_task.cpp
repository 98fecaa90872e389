#include "app/file_convert_task.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "app/earlier_outputs.h"
#include "app/archive_facts.h"
#include "app/finisher.h"
#include "commit/leftovers.h"
#include "app/progress.h"
#include "app/report_file.h"
#include "app/run_report.h"
#include "archive/avd_reader.h"
#include "commit/held_archive.h"
#include "ostra/task_dispatcher.h"
#include "platform/interrupts.h"
#include "writers/create_writer.h"
#include "writers/subtitle_writer.h"
#include "commit/output_path.h"
#include "archive/stream_header.h"

namespace {

using Reason = ConversionOutcome::Reason;
using platform::SystemError;

ConversionOutcome cannotOpen() {
  const SystemError e = platform::lastFileError();
  switch (e.kind) {
    case SystemError::Kind::NotRegular:
      return ConversionOutcome::because(Reason::NotRegular, e);
    case SystemError::Kind::NotFound:
      return ConversionOutcome::because(Reason::Vanished, e);
    case SystemError::Kind::NameTooLong:
      return ConversionOutcome::because(Reason::PathTooLong, e);
    case SystemError::Kind::Busy:
      return ConversionOutcome::because(Reason::HeldByProgram, e);
    default:
      return ConversionOutcome::because(Reason::CannotOpen, e);
  }
}

bool outputExists(xtd::wstrview archive) {
  for (const char16_t* extension : {u"flv", u"avi", u"mp4"}) {
    xtd::dwstring output = outputPathFor(archive, xtd::wstrview(extension, 3));
    platform::FileStatus status;
    if (platform::files().pathStatus(output.c_str(), status) && status.kind == platform::FileKind::Regular) return true;
  }
  return false;
}

// An archive whose name went away once it was opened: converted by another
// run if an output of its name is there, else simply gone.
ConversionOutcome gone(xtd::wstrview path) {
  if (outputExists(path)) return ConversionOutcome::because(Reason::ConvertedElsewhere);
  return ConversionOutcome::because(Reason::Vanished, platform::simulatedError(SystemError::Kind::NotFound));
}

// Whether this run holds the file `path` names under another name, or has
// let go of it since the count of holds was `since`.
bool heldByThisRun(xtd::wstrview path, std::uint64_t since) {
  xtd::dwstring name(path);
  platform::FileStatus status;
  return platform::files().pathStatus(name.c_str(), status) && HeldArchive::heldSince(status.identity, since);
}

// Opens and locks the archive whose name is `path`, as the file that name
// means now; an outcome when it cannot be converted now.
std::optional<ConversionOutcome> claim(xtd::wstrview path, AvdReader& reader) {
  // A name that comes to mean another file while it is opened is opened
  // again; a few times, for a file replaced over and over.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::uint64_t heldBefore = HeldArchive::changes();
    if (!reader.openArchive(path)) {
      const SystemError::Kind why = platform::lastFileError().kind;
      // Gone since the scan: another run may have converted it.
      if (why == SystemError::Kind::NotFound) return gone(path);
      // Held without sharing: on Windows also while this run removes
      // another name of the file (a hard link), which may have let it go
      // by the time this run looks at what it holds.
      if (why == SystemError::Kind::Busy && heldByThisRun(path, heldBefore)) {
        return ConversionOutcome::because(Reason::WaitingForOtherName);
      }
      return cannotOpen();
    }
    switch (reader.claimArchive()) {
      case AvdReader::Claim::Taken:
        break;
      case AvdReader::Claim::HeldByThisRun:
        return ConversionOutcome::because(Reason::WaitingForOtherName);
      case AvdReader::Claim::HeldByAnotherRun:
        return ConversionOutcome::because(Reason::InUse);
      case AvdReader::Claim::Failed: {
        const SystemError e = platform::lastFileError();
        // Through a view that looks the file up by name, a file another
        // run has just removed can no longer be asked.
        if (reader.checkName() == AvdReader::Name::Gone) return gone(path);
        return ConversionOutcome::because(Reason::CannotLock, e);
      }
    }
    // Another run may have converted and removed the archive between this
    // run's open and its lock.
    switch (reader.checkName()) {
      case AvdReader::Name::Same:
        return std::nullopt;
      case AvdReader::Name::Gone:
        return gone(path);
      case AvdReader::Name::Unknown:
        return ConversionOutcome::because(Reason::CannotOpen, platform::lastFileError());
      case AvdReader::Name::Other:
        reader.closeArchive();
        break;
    }
  }
  return ConversionOutcome::because(Reason::ChangedWhileRead);
}

// A read or status that failed because another run removed the archive
// meanwhile (through a view that looks the file up by name) is no fault.
ConversionOutcome readError(xtd::wstrview path, AvdReader& reader, std::uint64_t offset) {
  if (reader.checkName() == AvdReader::Name::Gone) return gone(path);
  ConversionOutcome o = ConversionOutcome::because(Reason::ReadError, reader.readError());
  o.offset = offset;
  return o;
}

ConversionOutcome readError(xtd::wstrview path, AvdReader& reader) {
  return readError(path, reader, reader.endOffset());
}

// Why the first record is not a stream header that a writer takes.
ConversionOutcome noWriter(xtd::wstrview path, AvdReader& reader, const AvdRecordHeader* first, xtd::strview payload) {
  if (!first) {
    if (reader.end() == AvdReader::End::ReadFailed) return readError(path, reader);
    return ConversionOutcome::because(reader.end() == AvdReader::End::EndOfFile && reader.endOffset() == 0
                                          ? Reason::Empty
                                          : Reason::NoStreamHeader);
  }
  if (first->type != AvdRecordHeader::kStreamHeader) return ConversionOutcome::because(Reason::NoStreamHeader);
  std::uint32_t codec = 0;
  if (readCodec(payload, codec) && codec != StreamHeader::kH264 && codec != StreamHeader::kMjpeg) {
    ConversionOutcome o = ConversionOutcome::because(Reason::UnknownCodec);
    o.number = codec;
    return o;
  }
  return ConversionOutcome::because(Reason::HeaderRefused);
}

// Why a writer of an output refused.
template <class Writer>
ConversionOutcome writerRefused(const Writer& writer) {
  const WriteFailure& f = writer.failure();
  switch (f.kind) {
    case WriteFailure::Kind::Header:
      return ConversionOutcome::because(Reason::HeaderRefused);
    case WriteFailure::Kind::Limit:
      return ConversionOutcome::because(Reason::OutputTooLarge);
    case WriteFailure::Kind::Unsupported: {
      ConversionOutcome o = ConversionOutcome::because(Reason::UnsupportedFrame);
      o.extension = writer.outputExtension();
      return o;
    }
    case WriteFailure::Kind::Changed:
      return ConversionOutcome::because(Reason::ChangedWhileRead);
    default: {
      ConversionOutcome o = ConversionOutcome::because(Reason::OutputFailed, f.error);
      o.subject = ConversionOutcome::Subject::File;
      o.file = f.file;
      o.extension = writer.outputExtension();
      return o;
    }
  }
}

// A second pass over the frames stops after this many; the first, nowhere.
constexpr std::uint64_t kAllFrames = ~std::uint64_t{0};

// How the frames ended: what a complete output carries to the commit, or,
// when `complete` is false, why there is none.
struct FramesEnd {
  ConversionOutcome outcome;
  bool complete = true;
};

FramesEnd failed(ConversionOutcome o) { return FramesEnd{o, false}; }

// After the last frame: a stop inside the file ends the archive only when
// nothing but padding lies behind it, and every byte of the file as it
// stands now must have been examined.
FramesEnd endOfFrames(xtd::wstrview path, AvdReader& reader) {
  ConversionOutcome outcome = ConversionOutcome::because(Reason::Converted);
  const std::uint64_t stopOffset = reader.endOffset();
  switch (reader.end()) {
    case AvdReader::End::ReadFailed:
      return failed(readError(path, reader));
    case AvdReader::End::InvalidType:
    case AvdReader::End::StreamHeader: {
      const AvdReader::End at = reader.end();
      const AvdReader::Tail tail = reader.scanTail();
      if (tail == AvdReader::Tail::ReadFailed) return failed(readError(path, reader));
      if (tail == AvdReader::Tail::Data) {
        outcome.reason = Reason::StoppedEarly;
        outcome.stop = at == AvdReader::End::InvalidType ? ConversionOutcome::Stop::DamagedRecord
                                                         : ConversionOutcome::Stop::StreamHeader;
        outcome.offset = stopOffset;
      }
      break;
    }
    default:
      break;
  }
  switch (reader.checkExtent()) {
    case AvdReader::Extent::Whole:
      break;
    case AvdReader::Extent::Unknown:
      return failed(readError(path, reader, stopOffset));
    // A file that grew is still being recorded; one that shrank was
    // meddled with, and what was read of it may not be what it held.
    case AvdReader::Extent::Grew:
      if (outcome.reason == Reason::Converted) outcome.reason = Reason::BeingWritten;
      break;
    case AvdReader::Extent::Shrank:
      return failed(ConversionOutcome::because(Reason::ChangedWhileRead));
  }
  outcome.size = reader.sizeAtEnd();
  return FramesEnd{outcome, true};
}

// The outputs of one conversion: the writer's, and the capture times beside
// it when asked for.
struct Outputs {
  std::unique_ptr<WriterIf> writer;
  std::unique_ptr<SubtitleWriter> subtitles;
  ArchiveFacts* facts = nullptr;  // for the report file
};

// One frame to the writer, and its capture time beside it.
std::optional<ConversionOutcome> writeFrame(AvdReader& reader, Outputs& out, xtd::strview frame, std::uint32_t ticks,
                                            int kind) {
  const AvdRecordHeader& record = reader.record();
  if (!out.writer->writeFrame(&frame, &ticks, kind)) return writerRefused(*out.writer);
  if (out.subtitles && !out.subtitles->addFrame(out.writer->frameTime(), record.seconds, record.microseconds)) {
    return writerRefused(*out.subtitles);
  }
  if (out.facts) out.facts->addFrame(record.seconds, record.microseconds);
  return std::nullopt;
}

// Feeds the writer the frames from the reader's position, at most `limit`
// of them; an outcome when the conversion ends there.
std::optional<ConversionOutcome> writeFrames(xtd::wstrview path, AvdReader& reader, Outputs& out,
                                             std::uint64_t limit) {
  xtd::strview frame;
  std::uint32_t ticks = 0;
  std::uint64_t written = 0;
  for (; written < limit; ++written) {
    const int kind = reader.nextFrame(frame, &ticks);
    if (kind == -1) break;
    // A conversion in progress is abandoned: the writer removes its file.
    if (platform::interruptSignal() != 0) return ConversionOutcome::because(Reason::Interrupted);
    if (std::optional<ConversionOutcome> refused = writeFrame(reader, out, frame, ticks, kind)) return refused;
  }
  // A second pass must meet every frame the first one indexed.
  if (limit != kAllFrames && written != limit) {
    if (reader.end() == AvdReader::End::ReadFailed) return readError(path, reader);
    return ConversionOutcome::because(Reason::ChangedWhileRead);
  }
  return std::nullopt;
}

// A writer that indexes first gets every frame twice: its output's index
// comes before the frames (an MP4's moov before its mdat).
std::optional<ConversionOutcome> indexFrames(AvdReader& reader, WriterIf& writer, std::uint64_t& frames) {
  xtd::strview frame;
  std::uint32_t ticks = 0;
  // The second pass finds the pages in the cache.
  reader.keepCached(true);
  for (int kind; (kind = reader.nextFrame(frame, &ticks)) != -1; ++frames) {
    if (platform::interruptSignal() != 0) return ConversionOutcome::because(Reason::Interrupted);
    if (!writer.indexFrame(&frame, reader.record().seconds, reader.record().microseconds, kind)) {
      return writerRefused(writer);
    }
  }
  return std::nullopt;
}

// Reads the frames to their end, asking the writer about each instead of
// writing it: what a conversion comes to, short of its commit.
FramesEnd readThrough(xtd::wstrview path, AvdReader& reader, WriterIf& writer, ArchiveFacts* facts = nullptr) {
  xtd::strview frame;
  std::uint32_t ticks = 0;
  for (int kind; (kind = reader.nextFrame(frame, &ticks)) != -1;) {
    if (platform::interruptSignal() != 0) return failed(ConversionOutcome::because(Reason::Interrupted));
    if (!writer.indexFrame(&frame, reader.record().seconds, reader.record().microseconds, kind)) {
      return failed(writerRefused(writer));
    }
    if (facts) facts->addFrame(reader.record().seconds, reader.record().microseconds);
  }
  return endOfFrames(path, reader);
}

// The outputs of a salvage's further recording session, under the names of
// the archive `sessionArchivePath` gives it; an outcome when they cannot be
// had. Names another archive's outputs would have, or a directory has, are
// left alone.
// Whether the names of session `number`'s outputs, under the archive name
// `stand` stands for, are another archive's or a directory's.
std::optional<ConversionOutcome> sessionNamesTaken(xtd::wstrview stand, std::uint32_t number, const WriterIf& writer,
                                                   const Options& options) {
  platform::FileApi& fs = platform::files();
  platform::FileStatus status;
  ConversionOutcome taken = ConversionOutcome::because(Reason::OutputNameTaken);
  taken.number = number;
  taken.extension = writer.outputExtension();
  xtd::dwstring name(stand);
  if (fs.pathStatus(name.c_str(), status)) return taken;
  for (const char16_t* extension : {writer.outputExtension(), options.timestamps ? u"srt" : nullptr}) {
    if (!extension) continue;
    xtd::dwstring output = outputPathFor(stand, xtd::wstrview(extension, 3));
    if (fs.pathStatus(output.c_str(), status) && status.kind == platform::FileKind::Directory) {
      taken.extension = extension;
      taken.error = platform::simulatedError(SystemError::Kind::IsDirectory);
      return taken;
    }
  }
  return std::nullopt;
}

std::optional<ConversionOutcome> startSession(xtd::wstrview path, xtd::strview header, const Options& options,
                                              std::vector<Outputs>& sessions) {
  const auto number = static_cast<std::uint32_t>(sessions.size() + 1);
  xtd::dwstring stand = sessionArchivePath(path, number);
  Outputs out;
  out.facts = sessions.front().facts;
  out.writer.reset(createWriter(stand.view(), &header, options.format));
  if (!out.writer) return ConversionOutcome::because(Reason::HeaderRefused);
  if (auto taken = sessionNamesTaken(stand.view(), number, *out.writer, options)) return taken;
  if (!out.writer->open(&header)) return writerRefused(*out.writer);
  if (options.timestamps) {
    out.subtitles = std::make_unique<SubtitleWriter>(stand.view());
    if (!out.subtitles->open()) return writerRefused(*out.subtitles);
  }
  sessions.push_back(std::move(out));
  return std::nullopt;
}

// Anything but one whole session is told, and the archive stays: what was
// skipped may hold what no reader understands.
void toldSalvaged(const AvdReader& reader, std::uint64_t frames, std::uint32_t sessions, ConversionOutcome& outcome) {
  const AvdReader::Skipped& skipped = reader.skipped();
  if (skipped.places == 0 && sessions == 1) return;
  outcome.reason = Reason::Salvaged;
  outcome.frames = frames;
  outcome.outputs = sessions;
  outcome.skippedBytes = skipped.bytes;
  outcome.places = skipped.places;
  outcome.offset = skipped.first;
}

// A salvage: the frames of every recording session the reader finds, into
// the first session's outputs and those of each further one, and, for
// writers that index first, a second pass over the same records.
std::optional<ConversionOutcome> salvage(xtd::wstrview path, AvdReader& reader, const Options& options,
                                         std::vector<Outputs>& sessions, FramesEnd& end) {
  xtd::strview frame;
  std::uint32_t ticks = 0;
  std::uint64_t frames = 0;
  // Frames each session's writer indexed, and met again in the second pass.
  std::vector<std::uint64_t> indexed(1, 0), met;
  reader.keepCached(options.format == OutputFormat::Mp4);
  for (int kind; (kind = reader.nextFrame(frame, &ticks)) != -1;) {
    if (platform::interruptSignal() != 0) return ConversionOutcome::because(Reason::Interrupted);
    if (kind == AvdReader::kNewSessionKind) {
      if (std::optional<ConversionOutcome> refused = startSession(path, frame, options, sessions)) return refused;
      indexed.push_back(0);
      continue;
    }
    ++frames;
    Outputs& out = sessions.back();
    if (!out.writer->wantsIndex()) {
      if (std::optional<ConversionOutcome> refused = writeFrame(reader, out, frame, ticks, kind)) return refused;
    } else if (out.writer->indexFrame(&frame, reader.record().seconds, reader.record().microseconds, kind)) {
      ++indexed.back();
    } else {
      return writerRefused(*out.writer);
    }
  }
  end = endOfFrames(path, reader);
  if (!end.complete) return end.outcome;

  met.assign(indexed.size(), 0);
  if (std::any_of(sessions.begin(), sessions.end(), [](const Outputs& o) { return o.writer->wantsIndex(); })) {
    reader.replaySalvage();
    std::size_t session = 0;
    for (int kind; (kind = reader.nextFrame(frame, &ticks)) != -1;) {
      if (platform::interruptSignal() != 0) return ConversionOutcome::because(Reason::Interrupted);
      if (kind == AvdReader::kNewSessionKind) {
        if (++session == sessions.size()) return ConversionOutcome::because(Reason::ChangedWhileRead);
        continue;
      }
      Outputs& out = sessions[session];
      if (!out.writer->wantsIndex()) continue;
      if (++met[session] > indexed[session]) return ConversionOutcome::because(Reason::ChangedWhileRead);
      if (std::optional<ConversionOutcome> refused = writeFrame(reader, out, frame, ticks, kind)) return refused;
    }
    if (reader.end() == AvdReader::End::ReadFailed) return readError(path, reader);
    for (std::size_t i = 0; i < sessions.size(); ++i) {
      if (sessions[i].writer->wantsIndex() && met[i] != indexed[i]) {
        return ConversionOutcome::because(Reason::ChangedWhileRead);
      }
    }
  }
  toldSalvaged(reader, frames, static_cast<std::uint32_t>(sessions.size()), end.outcome);
  return std::nullopt;
}

// Complete outputs go to the finisher with the archive, held, and their
// facts to the report.
std::optional<ConversionOutcome> handOver(AvdReader& reader, CompletionSink& finisher,
                                          std::vector<std::unique_ptr<StagedFile>> outputs,
                                          const ConversionOutcome& outcome, const Options& options, ArchiveFacts* facts) {
  if (facts) {
    for (const auto& output : outputs) facts->outputs.push_back(outputFacts(*output));
    facts->bytesRead = reader.bytesRead();
    facts->archiveSha256 = reader.contentDigest();
  }
  CompletedConversion done(reader.holdArchive(), std::move(outputs), outcome);
  done.keepArchive = options.keepArchives;
  finisher.take(std::move(done));
  return std::nullopt;
}

// The conversion up to complete outputs, which go to the finisher; an
// outcome only when the conversion ended before that.
std::optional<ConversionOutcome> convert(xtd::wstrview path, AvdReader& reader, CompletionSink& finisher,
                                        const Leftovers* leftovers, const Options& options, ArchiveFacts* facts) {
  // Asked to stop: no conversion begins.
  if (platform::interruptSignal() != 0) return ConversionOutcome::because(Reason::NotStarted);
  reader.keepAccessTime(options.keepArchives);
  reader.hashContent(facts != nullptr);
  if (std::optional<ConversionOutcome> refused = claim(path, reader)) return refused;
  // Only while the archive is held, and only those nobody has touched for
  // a while: a run through another view of the directory may hold it too.
  if (leftovers) removeLeftovers(path, *leftovers);

  xtd::strview header;
  const AvdRecordHeader* first = reader.readRecord(header);
  Outputs out;
  out.facts = facts;
  if (first && first->type == AvdRecordHeader::kStreamHeader) out.writer.reset(createWriter(path, &header, options.format));
  if (!out.writer) return noWriter(path, reader, first, header);
  // Converted by an earlier run that kept it: read through, but not written
  // again, so that this run tells what that one did.
  const std::vector<PlannedOutput> planned = plannedOutputs(path, out.writer->outputExtension(), options);
  if (options.keepArchives && madeFromUnchanged(reader.statusAtClaim(), planned)) {
    const FramesEnd end = readThrough(path, reader, *out.writer, facts);
    // The report lists the outputs that earlier run made, as they are.
    if (facts && end.complete) {
      facts->earlierOutputs = true;
      facts->bytesRead = reader.bytesRead();
      facts->archiveSha256 = reader.contentDigest();
      for (const PlannedOutput& output : planned) facts->outputs.push_back(existingOutputFacts(output.path.view()));
    }
    return end.outcome;
  }
  if (!out.writer->open(&header)) return writerRefused(*out.writer);
  if (options.timestamps) {
    out.subtitles = std::make_unique<SubtitleWriter>(path);
    if (!out.subtitles->open()) return writerRefused(*out.subtitles);
  }

  if (options.salvage) {
    reader.salvageFrom(header, first->seconds);
    std::vector<Outputs> sessions;
    sessions.push_back(std::move(out));
    FramesEnd end;
    if (std::optional<ConversionOutcome> stopped = salvage(path, reader, options, sessions, end)) return stopped;
    std::vector<std::unique_ptr<StagedFile>> outputs;
    for (Outputs& session : sessions) {
      if (!session.writer->complete(&reader.statusAtEnd())) return writerRefused(*session.writer);
      if (session.subtitles && !session.subtitles->complete(session.writer->endTime(), &reader.statusAtEnd())) {
        return writerRefused(*session.subtitles);
      }
      outputs.push_back(session.writer->takeOutput());
      if (session.subtitles) outputs.push_back(session.subtitles->takeOutput());
    }
    end.outcome.extension = sessions.front().writer->outputExtension();
    return handOver(reader, finisher, std::move(outputs), end.outcome, options, facts);
  }

  const std::uint64_t firstFrame = reader.nextOffset();
  std::uint64_t indexed = kAllFrames;
  if (out.writer->wantsIndex()) {
    indexed = 0;
    if (std::optional<ConversionOutcome> stopped = indexFrames(reader, *out.writer, indexed)) return stopped;
  } else if (std::optional<ConversionOutcome> stopped = writeFrames(path, reader, out, kAllFrames)) {
    return stopped;
  }
  const FramesEnd end = endOfFrames(path, reader);
  if (!end.complete) return end.outcome;
  if (indexed != kAllFrames) {
    reader.rewind(firstFrame);
    if (std::optional<ConversionOutcome> stopped = writeFrames(path, reader, out, indexed)) return stopped;
  }

  ConversionOutcome outcome = end.outcome;
  if (!out.writer->complete(&reader.statusAtEnd())) return writerRefused(*out.writer);
  if (out.subtitles && !out.subtitles->complete(out.writer->endTime(), &reader.statusAtEnd())) {
    return writerRefused(*out.subtitles);
  }
  outcome.extension = out.writer->outputExtension();
  std::vector<std::unique_ptr<StagedFile>> outputs;
  outputs.push_back(out.writer->takeOutput());
  if (out.subtitles) outputs.push_back(out.subtitles->takeOutput());
  return handOver(reader, finisher, std::move(outputs), outcome, options, facts);
}

// The frames of a survey, asked of the writer of each recording session a
// salvage finds; an outcome when a further session's outputs cannot be had.
std::optional<ConversionOutcome> surveyFrames(xtd::wstrview path, AvdReader& reader, const Options& options,
                                              std::unique_ptr<WriterIf>& writer, ArchiveSurvey& found, FramesEnd& end) {
  xtd::strview frame;
  std::uint32_t ticks = 0;
  std::uint64_t frames = 0;
  std::uint32_t sessions = 1;
  for (int kind; (kind = reader.nextFrame(frame, &ticks)) != -1;) {
    if (platform::interruptSignal() != 0) return ConversionOutcome::because(Reason::Interrupted);
    if (kind == AvdReader::kNewSessionKind) {
      const xtd::dwstring stand = sessionArchivePath(path, ++sessions);
      writer.reset(createWriter(stand.view(), &frame, options.format));
      if (!writer || !writer->acceptsHeader(&frame)) return ConversionOutcome::because(Reason::HeaderRefused);
      if (auto taken = sessionNamesTaken(stand.view(), sessions, *writer, options)) return taken;
      for (PlannedOutput& output : plannedOutputs(stand.view(), writer->outputExtension(), options)) {
        found.outputs.push_back(std::move(output));
      }
      continue;
    }
    ++frames;
    if (!writer->indexFrame(&frame, reader.record().seconds, reader.record().microseconds, kind)) {
      return writerRefused(*writer);
    }
  }
  end = endOfFrames(path, reader);
  if (end.complete && options.salvage) toldSalvaged(reader, frames, sessions, end.outcome);
  return std::nullopt;
}

// What convert would come to, found by reading alone: the same steps up to
// the commit, with the writer asked about the header and every frame
// instead of writing them, and the outputs' names looked at.
ConversionOutcome survey(xtd::wstrview path, AvdReader& reader, const Options& options, ArchiveSurvey& found) {
  if (platform::interruptSignal() != 0) return ConversionOutcome::because(Reason::NotStarted);
  reader.keepAccessTime(true);
  if (std::optional<ConversionOutcome> refused = claim(path, reader)) return *refused;
  xtd::strview header;
  const AvdRecordHeader* first = reader.readRecord(header);
  std::unique_ptr<WriterIf> writer;
  if (first && first->type == AvdRecordHeader::kStreamHeader) writer.reset(createWriter(path, &header, options.format));
  if (!writer) return noWriter(path, reader, first, header);
  found.outputs = plannedOutputs(path, writer->outputExtension(), options);
  if (options.keepArchives && madeFromUnchanged(reader.statusAtClaim(), found.outputs)) {
    const ConversionOutcome earlier = readThrough(path, reader, *writer).outcome;
    found.alreadyConverted = earlier.reason == Reason::Converted;
    return earlier;
  }
  if (!writer->acceptsHeader(&header)) return writerRefused(*writer);
  if (options.salvage) reader.salvageFrom(header, first->seconds);
  FramesEnd end;
  if (std::optional<ConversionOutcome> stopped = surveyFrames(path, reader, options, writer, found, end)) {
    return *stopped;
  }
  if (!end.complete) return end.outcome;
  // Complete outputs are committed, and a directory at a final name refuses
  // the rename.
  for (const PlannedOutput& output : found.outputs) {
    xtd::dwstring name(output.path);
    platform::FileStatus status;
    if (platform::files().pathStatus(name.c_str(), status) && status.kind == platform::FileKind::Directory) {
      ConversionOutcome o =
          ConversionOutcome::because(Reason::OutputFailed, platform::simulatedError(SystemError::Kind::IsDirectory));
      o.subject = ConversionOutcome::Subject::File;
      o.file = FileName(name.c_str());
      o.extension = output.extension;
      return o;
    }
  }
  return end.outcome;
}

// Gives the report file an archive's facts before its conversion goes to
// be committed: the commit may tell the outcome at once.
class ReportingSink final : public CompletionSink {
 public:
  ReportingSink(CompletionSink& next, ReportFile& file, ArchiveFacts& facts) : next_(next), file_(file), facts_(facts) {}

  void take(CompletedConversion conversion) override {
    file_.expect(conversion.archive.path().view(), std::move(facts_));
    next_.take(std::move(conversion));
  }

 private:
  CompletionSink& next_;
  ReportFile& file_;
  ArchiveFacts& facts_;
};

// Commits each conversion as it completes, for conversions one at a time.
class CommitAtOnce final : public CompletionSink {
 public:
  void take(CompletedConversion conversion) override {
    commitConversions(&conversion, 1, [this](xtd::wstrview, const ConversionOutcome& o) { outcome = o; });
  }

  ConversionOutcome outcome = ConversionOutcome::because(Reason::OutOfMemory);
};

}  // namespace

std::optional<ConversionOutcome> convertArchive(xtd::wstrview path, AvdReader& reader, CompletionSink& finisher,
                                                const Leftovers* leftovers, const Options& options,
                                                ArchiveFacts* facts) {
  std::optional<ConversionOutcome> outcome;
  try {
    outcome = convert(path, reader, finisher, leftovers, options, facts);
  } catch (...) {
    // Out of memory (nothing else is thrown here): this archive stays, the
    // others go on.
    outcome = ConversionOutcome::because(Reason::OutOfMemory);
  }
  // An archive left without output: what was read of it.
  if (facts && outcome && !facts->earlierOutputs) {
    facts->frames = 0;
    facts->outputs.clear();
    facts->bytesRead = reader.bytesRead();
    facts->archiveSha256 = reader.contentDigest();
  }
  reader.closeArchive();
  return outcome;
}

ConversionOutcome convertArchive(xtd::wstrview path, AvdReader& reader, const Options& options) {
  CommitAtOnce sink;
  if (std::optional<ConversionOutcome> ended = convertArchive(path, reader, sink, nullptr, options)) return *ended;
  return sink.outcome;
}

ConversionOutcome convertArchive(xtd::wstrview path, const Options& options) {
  try {
    AvdReader reader;
    return convertArchive(path, reader, options);
  } catch (...) {
    return ConversionOutcome::because(ConversionOutcome::Reason::OutOfMemory);
  }
}

ArchiveSurvey surveyArchive(xtd::wstrview path, AvdReader& reader, const Options& options) {
  ArchiveSurvey found;
  try {
    found.outcome = survey(path, reader, options, found);
  } catch (...) {
    found.outcome = ConversionOutcome::because(ConversionOutcome::Reason::OutOfMemory);
  }
  reader.closeArchive();
  return found;
}

bool convertedElsewhere(xtd::wstrview archive) {
  xtd::dwstring path(archive);
  platform::FileStatus status;
  if (platform::files().pathStatus(path.c_str(), status)) return false;
  return platform::lastFileError().kind == SystemError::Kind::NotFound && outputExists(archive);
}

void FileConvertTask::run(Ostra::TaskContext& context, Ostra::Tick now) {
  if (!holding_) {
    // Once asked to stop, the archives left stay on the list for the report.
    bool taken = false;
    try {
      taken = platform::interruptSignal() == 0 && run_.archives->take(current_);
    } catch (const std::bad_alloc&) {
      // No memory for the next path: it stays on the list, and is told as
      // not converted.
    }
    if (!taken) return end(context);
    holding_ = true;
  }
  std::optional<ConversionOutcome> outcome;
  try {
    AvdReader reader;
    if (!run_.reportFile) {
      outcome = convertArchive(current_.path.view(), reader, *run_.finisher, current_.leftovers.get(), run_.options);
    } else {
      ArchiveFacts facts;
      ReportingSink sink(*run_.finisher, *run_.reportFile, facts);
      outcome = convertArchive(current_.path.view(), reader, sink, current_.leftovers.get(), run_.options, &facts);
      try {
        if (outcome && outcome->reason != ConversionOutcome::Reason::WaitingForOtherName) {
          run_.reportFile->expect(current_.path.view(), std::move(facts));
        }
      } catch (const std::bad_alloc&) {
        // The line goes without the facts; the outcome stands.
      }
    }
  } catch (...) {
    outcome = ConversionOutcome::because(ConversionOutcome::Reason::OutOfMemory);
  }
  if (outcome && outcome->reason == ConversionOutcome::Reason::WaitingForOtherName) {
    // The other name's conversion may be waiting for company in a batch:
    // that batch goes now, and this name is tried again shortly.
    run_.finisher->commitAll();
    due = static_cast<Ostra::Tick>(static_cast<std::uint32_t>(now) + kRetryTicks);
    context.disposition = Ostra::TaskContext::RunAtDue;
    return;
  }
  if (outcome) run_.report->record(current_.path.view(), *outcome);
  holding_ = false;
  progress().archiveFinished();
  context.disposition = Ostra::TaskContext::Requeue;
}

void FileConvertTask::end(Ostra::TaskContext& context) {
  // The last task stops the run; stopping waits for the other workers,
  // which need nothing this one holds.
  if (run_.tasks.fetch_sub(1) == 1) context.dispatcher->stop();
  context.dispatcher->settle(context, this);
  delete this;
}
