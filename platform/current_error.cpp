#include "platform/current_error.h"

namespace korawin::platform {

CurrentError& ThreadError() {
  thread_local CurrentError error;
  return error;
}

}  // namespace korawin::platform
