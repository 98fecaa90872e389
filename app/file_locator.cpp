#include "app/file_locator.h"

#include "app/file_convert_task.h"
#include "ostra/task_dispatcher.h"
#include "platform/paths.h"

void FileLocator::findFiles(xtd::wstrview ext) {
  ext_.assign(ext);
  scan(path_.view());
}

void FileLocator::scan(xtd::wstrview dir) {
  xtd::dwstring base(dir);
  if (base.empty()) return;
  if (base[base.length() - 1] != platform::kPathSeparator) base.push_back(platform::kPathSeparator);

  platform::FileIdentity identity;
  if (platform::identifyDirectory(base.c_str(), identity) && !visited_.insert(identity).second) return;

  xtd::dwstring entry(base.view());
  const std::uint32_t baseLength = entry.length();
  platform::DirectoryListing listing;
  if (!listing.open(base.c_str(), base.length())) return;

  platform::DirectoryEntry e;
  while (listing.next(e)) {
    const xtd::wstrview name(e.name, e.nameLength);
    entry.append(name);
    if (e.isDirectory) {
      // Skips ".", ".." and every hidden directory.
      if (name.length != 0 && name[0] != u'.') scan(entry.view());
    } else if (name.length >= 3 && xtd::equals(xtd::wstrview(name.data + name.length - 3, 3), ext_.view())) {
      found(entry.view());
    }
    entry.resize(baseLength);
  }
}

void FileLocator::found(xtd::wstrview path) {
  ++count_;
  // Queued only: no worker runs before the scan is complete.
  if (dispatcher_) dispatcher_->post(new FileConvertTask(path));
}
