#include "dispatch/registration.h"

namespace vanta::dispatch {

bool RegistrationStage(int /*server_window*/, ParsedLine& /*line*/) { return false; }

}  // namespace vanta::dispatch
