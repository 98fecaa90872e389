#include <cstdio>

#include "platform/program.h"

namespace platform {

void writeStdout(const char* data, std::size_t size) { std::fwrite(data, 1, size, stdout); }
void writeStderr(const char* data, std::size_t size) { std::fwrite(data, 1, size, stderr); }
void flushStdout() { std::fflush(stdout); }

}  // namespace platform
