// Dial-up through the system's remote-access service: read an entry's dial parameters, dial it
// and hang up the connection that was dialled. A machine without phone-book entries never dials.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace kolvy::platform {

class Ras {
  public:
    virtual ~Ras() = default;
    enum class Params { Ok, Unavailable, NoPassword };
    // Whether the entry's dial parameters can be read and hold a password. Unavailable without
    // the service or without any phone-book entry, so such a machine never dials.
    virtual Params dialParams(std::string_view entry) = 0;
    // Dials synchronously. 0 with `connection` set on success; otherwise the system's error code
    // (602: the port is already open) with `connection` 0: the handle a failed dial got is hung
    // up here, else the next dial finds the port still open.
    virtual uint32_t dial(std::string_view entry, uintptr_t& connection) = 0;
    // Ends the connection a successful dial returned (and no other).
    virtual void hangUp(uintptr_t connection) = 0;
};

inline constexpr uint32_t kRasPortAlreadyOpen = 602;

// The system's service (Win32: rasapi32 loaded at run time); natively none, which never dials.
std::unique_ptr<Ras> makeRas();

}  // namespace kolvy::platform
