#include "app/console_text.h"

#include "platform/program.h"

namespace {

template <std::size_t N>
void put(const char (&text)[N]) {
  platform::writeStdout(text, N - 1);
}

}  // namespace

void writeBanner(xtd::strview printablePath, OutputFormat format) {
  put("\n##################################################\n");
  put("  Vantrel Archiv File Converter 1.1\n");
  put("  Path: ");
  platform::writeStdout(printablePath.data, printablePath.length);
  put("\n");
  // The thread count shown is fixed text, not read from the runtime.
  if (format == OutputFormat::Mp4) {
    put("  Threads: 4 FileType: \"MP4\" for H264 and \"AVI\" for MJPEG\n");
  } else {
    put("  Threads: 4 FileType: \"FLV\" for H264 and \"AVI\" for MJPEG\n");
  }
  put("##################################################\n\n");
}

void writeClosingLine(bool archivesFound, bool lineOpen) {
  if (archivesFound) {
    if (lineOpen) put("\n");
    put("finished.");
  } else {
    put("finished - no avd files found in directory!");
  }
  platform::flushStdout();
}
