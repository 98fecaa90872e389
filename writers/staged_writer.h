#pragma once

#include <memory>

#include "commit/staged_file.h"
#include "writers/writer_if.h"
#include "xtd/dstring.h"

// What every formatter of a video output shares: the staged file beside the
// archive that it writes its format into until the output is taken, and the
// first failure, after which it writes nothing.
class StagedWriter : public WriterIf {
 public:
  const WriteFailure& failure() const override { return failure_; }
  // Until the output is taken.
  const char16_t* outputPath() const override { return output_->finalPath(); }
  const char16_t* outputExtension() const override { return extension_; }

 protected:
  // `extension`, a literal of three letters, names the output.
  StagedWriter(xtd::wstrview archivePath, const char16_t* extension);

  bool failed() const { return failure_.kind != WriteFailure::Kind::None; }
  bool refuse(WriteFailure::Kind kind) {
    failure_.record(kind);
    return false;
  }
  // A call on the output file has just failed.
  bool refuseOutput() {
    failure_.recordOutput(output_->temporaryPath());
    return false;
  }
  // Seals the complete output with the archive's metadata; a failure is
  // the file's own.
  bool sealOutput(const platform::FileStatus* archive) {
    if (output_->seal(archive)) return true;
    failure_ = output_->failure();
    return false;
  }

  // Destroyed after what a derived writer holds of it.
  std::unique_ptr<StagedFile> output_;
  WriteFailure failure_;

 private:
  const char16_t* extension_;
};
