#include "writers/create_writer.h"

#include "writers/avi_writer.h"
#include "writers/flv_writer.h"
#include "writers/mp4_writer.h"
#include "archive/stream_header.h"

WriterIf* createWriter(xtd::wstrview path, const xtd::strview* header, OutputFormat format) {
  if (!header || header->length == 0) return nullptr;
  // A header that does not hold its own codec block gets no writer, so no
  // output is created and the archive stays.
  StreamHeader h;
  if (!parseStreamHeader(*header, h)) return nullptr;
  switch (h.codec) {
    case StreamHeader::kH264:
      if (format == OutputFormat::Mp4) return new MP4Writer(path);
      return new FLVWriter(path);
    case StreamHeader::kMjpeg:
      return new AVIWriter(path);
    default:
      return nullptr;
  }
}
