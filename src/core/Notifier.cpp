#include "core/Notifier.h"

namespace quorvel {

Notifier& Notifier::shared()
{
    // Never destroyed: notices may be posted from objects torn down at exit.
    static Notifier* notifier = new Notifier;
    return *notifier;
}

} // namespace quorvel
