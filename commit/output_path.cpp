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

xtd::dwstring sessionArchivePath(xtd::wstrview archivePath, std::uint32_t number) {
  xtd::dwstring out = outputPathFor(archivePath, xtd::wstrview());
  if (out.empty() || out[out.length() - 1] != u'.') out.push_back(u'.');
  char16_t digits[10];
  int n = 0;
  do digits[n++] = static_cast<char16_t>(u'0' + number % 10);
  while ((number /= 10) != 0);
  while (n > 0) out.push_back(digits[--n]);
  out.push_back(u'.');
  out.append(xtd::wstrview::literal(kArchiveExtension));
  return out;
}
