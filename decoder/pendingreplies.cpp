#include "pendingreplies.h"

// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): the process-wide record declared in the header
PendingReplies pendingReplies;
