#include "app/earlier_outputs.h"

#include "commit/output_path.h"

std::vector<PlannedOutput> plannedOutputs(xtd::wstrview archive, const char16_t* extension, const Options& options) {
  std::vector<PlannedOutput> outputs;
  outputs.push_back({outputPathFor(archive, xtd::wstrview(extension, 3)), extension});
  if (options.timestamps) outputs.push_back({outputPathFor(archive, xtd::wstrview(u"srt", 3)), u"srt"});
  return outputs;
}

bool madeFromUnchanged(const platform::FileStatus& archive, const std::vector<PlannedOutput>& outputs) {
  for (const PlannedOutput& planned : outputs) {
    platform::FileStatus output;
    xtd::dwstring path(planned.path);
    if (!platform::files().pathStatus(path.c_str(), output)) return false;
    if (output.kind != platform::FileKind::Regular || output.size == 0 || output.identity == archive.identity ||
        output.modified != archive.modified || archive.changed > output.changed) {
      return false;
    }
  }
  return !outputs.empty();
}
