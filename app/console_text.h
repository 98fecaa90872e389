#pragma once

#include "writers/create_writer.h"
#include "xtd/strview.h"

// The fixed texts the tool prints around the progress line; the banner
// names the format H.264 recordings become.
void writeBanner(xtd::strview printablePath, OutputFormat format = OutputFormat::Flv);
// `lineOpen`: the progress line still waits for its end.
void writeClosingLine(bool archivesFound, bool lineOpen = true);
