#include "dispatch/numerics.h"

namespace vanta::dispatch {

bool HandleNumeric(int /*server_window*/, ParsedLine& /*line*/) { return false; }

}  // namespace vanta::dispatch
