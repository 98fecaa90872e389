#include "app/file_locator.h"

#include "app/archive_list.h"
#include "app/run_report.h"
#include "platform/interrupts.h"
#include "platform/paths.h"
#include "platform/utf8_codec.h"
#include "commit/temporary_name.h"

void FileLocator::findFiles(xtd::wstrview ext) {
  ext_.assign(ext);
  rootLength_ = path_.length();
  if (rootLength_ != 0 && path_[rootLength_ - 1] != platform::kPathSeparator) ++rootLength_;
  scan(path_.view());
}

void FileLocator::scan(xtd::wstrview dir) {
  xtd::dwstring base(dir);
  if (base.empty()) return;
  if (base[base.length() - 1] != platform::kPathSeparator) base.push_back(platform::kPathSeparator);

  platform::FileApi& fs = platform::files();
  platform::FileStatus status;
  if (fs.pathStatus(base.c_str(), status) && !visited_.insert(status.identity).second) return;

  xtd::dwstring entry(base.view());
  const std::uint32_t baseLength = entry.length();
  const std::unique_ptr<platform::DirectoryCursor> listing =
      fs.listDirectory(base.c_str(), base.length(), keepAccessTimes_);
  if (!listing) {
    unreadable(dir, platform::lastFileError());
    return;
  }

  // Whether the list's current directory is this one: a subdirectory's
  // walk takes it elsewhere.
  bool entered = false;
  auto enter = [&] {
    if (list_ && !entered) list_->enterDirectory(base.view());
    entered = true;
  };
  platform::DirectoryEntry e;
  // Asked to stop: the scan ends where it is.
  while (platform::interruptSignal() == 0 && listing->next(e)) {
    const xtd::wstrview name(e.name, e.nameLength);
    entry.append(name);
    // Skips ".", ".." and every hidden directory.
    const bool walked = e.isDirectory && name.length != 0 && name[0] != u'.';
    const bool matched = !e.isDirectory && name.length >= ext_.length() &&
                         xtd::equals(xtd::wstrview(name.data + name.length - ext_.length(), ext_.length()), ext_.view());
    if (walked) {
      scan(entry.view());
      entered = false;
    } else if (matched && takes(entry.view())) {
      enter();
      if (list_) list_->addArchive(name);
      found(entry.view());
    } else if (!e.isDirectory && isTemporaryName(name)) {
      enter();
      if (list_) list_->addLeftover(name);
    }
    entry.resize(baseLength);
  }
  if (listing->error()) unreadable(dir, listing->error());
}

bool FileLocator::takes(xtd::wstrview path) const {
  if (shard_.count > 1) {
    std::string relative;
    const std::uint32_t from = rootLength_ < path.length ? rootLength_ : path.length;
    platform::utf8::encode(path.data + from, path.data + path.length, relative);
    // One spelling on every system: a Windows name cannot hold a "/".
    for (char& c : relative) {
      if (c == static_cast<char>(platform::kPathSeparator)) c = '/';
    }
    if (!shard_.takes(relative)) return false;
  }
  if (excluded_) {
    xtd::dwstring name(path);
    platform::FileStatus status;
    if (platform::files().pathStatus(name.c_str(), status) && status.identity == *excluded_) return false;
  }
  return true;
}

void FileLocator::unreadable(xtd::wstrview dir, const platform::SystemError& error) {
  using Reason = ConversionOutcome::Reason;
  skipped(dir, ConversionOutcome::because(
                   error.kind == platform::SystemError::Kind::NameTooLong ? Reason::PathTooLong : Reason::UnreadableDirectory,
                   error));
}

void FileLocator::skipped(xtd::wstrview path, const ConversionOutcome& why) {
  if (report_) report_->record(path, why);
}

void FileLocator::found(xtd::wstrview) { ++count_; }
