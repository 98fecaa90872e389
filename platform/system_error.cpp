#include "platform/system_error.h"

namespace platform {

namespace {
thread_local SystemError t_lastFileError;
}

SystemError lastFileError() { return t_lastFileError; }

void setLastFileError(SystemError error) { t_lastFileError = error; }

}  // namespace platform
