// TrelObject: the empty root of the in-house class library.
#pragma once

namespace mendora {

// No members and no virtual operations: it only marks a class as part of the library.
class TrelObject {};

} // namespace mendora
