#pragma once

#include <cstdint>

#include "commit/file_name.h"
#include "platform/system_error.h"

// How the conversion of one archive ended, with what a report needs to say
// why an archive is still there. Copying or recording an outcome needs no
// memory of its own and cannot fail.
struct ConversionOutcome {
  enum class Reason : std::uint8_t {
    Converted,  // output in place, archive deleted
    // Kept for its content; nothing failed.
    Empty,
    NoStreamHeader,
    UnknownCodec,    // `number`: the codec
    HeaderRefused,   // a stream header that does not hold what its codec needs
    UnsupportedFrame,  // a frame the chosen output format cannot hold (`extension`)
    StoppedEarly,    // output written; `offset` of `size`, `stop` says at what
    Salvaged,        // outputs written past damage or for several sessions; `frames`, `outputs`, `skippedBytes`
                     // bytes in `places` places, the first at `offset`
    // Left alone, for now or for good; nothing failed.
    InUse,            // another run holds it
    HeldByProgram,    // another program holds it without sharing it
    BeingWritten,     // output written, but a program still writes the archive
    RecentlyWritten,  // output written; written `number` seconds ago where writers cannot be seen
    Interrupted,      // the run was interrupted before the archive's output was in place
    NotStarted,       // the run was interrupted before the archive's conversion began
    WaitingForOtherName,  // this run holds the file under another name (a hard link) now
    NotRegular,       // a FIFO, socket or device
    Vanished,         // gone since the scan
    ConvertedElsewhere,  // gone since the scan, and its output is there: another run converted it
    // Kept or skipped because something failed; `error` says what the
    // system reported, about the file `subject` names.
    CannotOpen,
    CannotLock,
    ReadError,        // at `offset`
    OutputFailed,     // the output could not be created, written or renamed
    OutputNameTaken,  // session `number`'s output name (`extension`) is another archive's, or (error
                      // IsDirectory) a directory
    OutputTooLarge,   // beyond what the output format can address
    ChangedWhileRead, // cut or replaced while it was read: no output
    Changed,          // written to or replaced while it was converted; output written
    CannotDelete,     // output in place, the archive could not be deleted
    NotDurable,       // output in place, its name could not be made durable
    Displaced,        // the output name meant another file right after the rename
    MetadataNotSet,   // converted, but the output lacks the archive's owner, permissions or times
    OutOfMemory,
    PathTooLong,
    UnreadableDirectory,
  };
  enum class Stop : std::uint8_t { None, DamagedRecord, StreamHeader };
  // The file a failed call was about: the archive, its directory, or the
  // file beside it that `file` names (an output, or its temporary file).
  enum class Subject : std::uint8_t { Archive, File, Directory };

  Reason reason = Reason::Converted;
  // Converted, and the archive left as it was, as the run was asked.
  bool archiveKept = false;
  Stop stop = Stop::None;
  Subject subject = Subject::Archive;
  std::uint32_t number = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  // Salvaged.
  std::uint64_t frames = 0;
  std::uint64_t skippedBytes = 0;
  std::uint32_t outputs = 0;
  std::uint32_t places = 0;
  platform::SystemError error;
  FileName file;
  // The output's extension (a literal).
  const char16_t* extension = nullptr;

  // Something went wrong that the user should see to, as opposed to an
  // archive whose content cannot be converted or that is busy.
  bool failed() const { return reason >= Reason::CannotOpen; }
  // The archive is gone and its output in place.
  bool converted() const { return reason == Reason::Converted || reason == Reason::MetadataNotSet; }
  // An entry the run could not treat as an archive at all, as opposed to
  // an archive that is still there.
  bool skipped() const {
    return reason == Reason::NotRegular || reason == Reason::Vanished || reason == Reason::ConvertedElsewhere ||
           reason >= Reason::PathTooLong;
  }

  static ConversionOutcome because(Reason r, platform::SystemError e = {}) {
    ConversionOutcome o;
    o.reason = r;
    o.error = e;
    return o;
  }
};
