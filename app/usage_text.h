#pragma once

// What --help and --version print on standard output, newline included.
extern const char kUsageText[];
extern const char kVersionText[];
