// Calendar arithmetic of the store: the stored times of index records are seconds since 1970 UTC,
// converted from Japanese local time (UTC+9) where they come from the status line's digits.
#pragma once

#include <cstdint>

#include "core/calendar.h"
#include "platform/platform.h"

namespace kolvy::store {

inline constexpr int64_t kJapanOffset = 9 * 3600;

using kolvy::daysFromCivil;

// The local time read as if it were UTC, in seconds since 1970.
constexpr int64_t civilSeconds(const platform::LocalTime& t) {
    return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

}  // namespace kolvy::store
