#pragma once

#include <cstdint>
#include <string>

#include "app/archive_facts.h"
#include "commit/conversion_outcome.h"
#include "xtd/strview.h"

// The lines of the report file: JSON objects, one to a line, each ending
// in "\n". Names are quoted as the lines on standard error quote them.

// One archive's (or skipped entry's) outcome, with the facts of it where
// there are any (null: nothing was read of it).
std::string archiveLine(xtd::wstrview archive, const ConversionOutcome& outcome, const ArchiveFacts* facts);

// The last line: the counts of standard error and the exit status.
std::string summaryLine(std::uint64_t converted, std::uint64_t kept, std::uint64_t skipped, int status);

// A capture time in RFC 3339, UTC, to the microsecond:
// "2026-12-08T14:03:22.040000Z".
std::string captureTimeText(std::uint32_t seconds, std::uint32_t microseconds);
