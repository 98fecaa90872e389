#include "commit/leftovers.h"

#include <algorithm>

#include "commit/archive_removal.h"
#include "platform/files.h"
#include "commit/output_path.h"
#include "commit/temporary_name.h"

namespace {

// The recording session (2 and on) whose outputs' names `leftover` begins
// with, as a salvage of `archive` names them; 0 for none.
std::uint32_t sessionOf(xtd::wstrview leftover, xtd::wstrview archive) {
  const xtd::dwstring stand = sessionArchivePath(archive, 2);
  // The directory and the name up to the session's number.
  const std::uint32_t prefix = stand.length() - 5;
  if (leftover.length <= prefix || !xtd::equals(xtd::wstrview(leftover.data, prefix), xtd::wstrview(stand.data(), prefix))) {
    return 0;
  }
  std::uint32_t number = 0, i = prefix;
  for (; i < leftover.length && i < prefix + 9 && leftover[i] >= u'0' && leftover[i] <= u'9'; ++i) {
    number = number * 10 + (leftover[i] - u'0');
  }
  return i < leftover.length && leftover[i] == u'.' && number >= 2 ? number : 0;
}

}  // namespace

void removeLeftovers(xtd::wstrview archive, const Leftovers& leftovers) {
  platform::FileApi& fs = platform::files();
  for (const xtd::dwstring& leftover : leftovers) {
    // A salvage's further outputs, while no archive has their names.
    xtd::dwstring owner(archive);
    if (const std::uint32_t session = sessionOf(leftover.view(), archive)) {
      owner = sessionArchivePath(archive, session);
      platform::FileStatus other;
      if (fs.pathStatus(owner.c_str(), other)) continue;
    }
    for (const char16_t* extension : kOutputExtensions) {
      const xtd::dwstring output = outputPathFor(owner.view(), xtd::wstrview(extension, 3));
      if (!isTemporaryOf(leftover.view(), output.view())) continue;
      xtd::dwstring path(leftover);
      platform::FileStatus status;
      // The change time too: a run gives its output the archive's old times
      // just before the rename. A leftover that cannot be looked at or
      // removed stays: nothing depends on it.
      if (fs.pathStatus(path.c_str(), status) && quietSince(std::max(status.modified, status.changed), fs.fileTimeNow())) {
        fs.remove(path.c_str());
      }
    }
  }
}
