#pragma once

#include "xtd/strview.h"

// The fixed texts the tool prints around the progress line.
void writeBanner(xtd::strview printablePath);
void writeClosingLine(bool archivesFound);
