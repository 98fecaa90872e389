#pragma once

// The last step of a conversion whose output is complete and flushed to
// stable storage: make the output's name durable, then delete the archive.
// The archive stays when the name cannot be made durable. True when the
// archive was deleted.
bool replaceArchive(const char16_t* outputPath, const char16_t* archivePath);
