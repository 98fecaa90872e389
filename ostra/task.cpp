#include "ostra/task.h"

#include "ostra/fatal.h"

namespace Ostra {

Task::~Task() {
  if (state != Idle) fatal("Task::~Task: a dispatcher still holds the task");
}

}  // namespace Ostra
