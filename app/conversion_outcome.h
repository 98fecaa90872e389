#pragma once

#include <cstdint>

#include "platform/system_error.h"

// How the conversion of one archive ended, with what a report needs to say
// why an archive is still there.
struct ConversionOutcome {
  enum class Reason : std::uint8_t {
    Converted,  // output in place, archive deleted
    // Kept for its content; nothing failed.
    Empty,
    NoStreamHeader,
    UnknownCodec,    // `number`: the codec
    HeaderRefused,   // a stream header that does not hold what its codec needs
    StoppedEarly,    // output written; `offset` of `size`, `stop` says at what
    // Left alone, for now or for good; nothing failed.
    InUse,         // another run holds it
    BeingWritten,  // output written, but a program still writes the archive
    NotRegular,    // a FIFO, socket or device
    Vanished,      // gone since the scan
    // Kept or skipped because something failed; `error` says what the
    // system reported.
    CannotOpen,
    CannotLock,
    ReadError,       // at `offset`
    OutputFailed,    // the output could not be created, written or renamed
    OutputTooLarge,  // beyond what the output format can address
    Changed,         // written to or replaced while it was converted
    CannotDelete,    // output in place, the archive could not be deleted
    OutOfMemory,
    PathTooLong,
    UnrepresentableName,  // not UTF-8: no path the program makes reaches it
    UnreadableDirectory,
  };
  enum class Stop : std::uint8_t { None, DamagedRecord, StreamHeader };

  Reason reason = Reason::Converted;
  Stop stop = Stop::None;
  std::uint32_t number = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  platform::SystemError error;

  // Something went wrong that the user should see to, as opposed to an
  // archive whose content cannot be converted or that is busy.
  bool failed() const { return reason >= Reason::CannotOpen; }
  // An entry the run could not treat as an archive at all, as opposed to
  // an archive that is still there.
  bool skipped() const {
    return reason == Reason::NotRegular || reason == Reason::Vanished || reason >= Reason::PathTooLong;
  }

  static ConversionOutcome because(Reason r, platform::SystemError e = {}) {
    ConversionOutcome o;
    o.reason = r;
    o.error = e;
    return o;
  }
};
