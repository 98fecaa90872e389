#include "commit/leftovers.h"

#include <algorithm>

#include "commit/archive_removal.h"
#include "platform/files.h"
#include "commit/output_path.h"
#include "commit/temporary_name.h"

void removeLeftovers(xtd::wstrview archive, const Leftovers& leftovers) {
  platform::FileApi& fs = platform::files();
  for (const char16_t* extension : kOutputExtensions) {
    const xtd::dwstring output = outputPathFor(archive, xtd::wstrview(extension, 3));
    for (const xtd::dwstring& leftover : leftovers) {
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
