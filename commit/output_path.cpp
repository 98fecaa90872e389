#include "commit/output_path.h"

#include "commit/archive_name.h"

xtd::dwstring outputPathFor(xtd::wstrview archivePath, xtd::wstrview extension) {
  const std::uint32_t keep =
      archivePath.length >= kArchiveExtensionLength ? archivePath.length - kArchiveExtensionLength : 0;
  xtd::dwstring out;
  out.reserve(keep + extension.length + 1);
  out.assign(xtd::wstrview(archivePath.data, keep));
  out.append(extension);
  return out;
}
