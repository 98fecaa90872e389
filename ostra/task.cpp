#include "ostra/task.h"

#include "ostra/fatal.h"

namespace Ostra {

Task::~Task() {
  if (state != Idle) fatal();
}

}  // namespace Ostra
