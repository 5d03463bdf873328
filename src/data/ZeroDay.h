#pragma once
// The zero day of the desktop's date arithmetic, 1899-12-30: a date-time
// that holds only a time stands on it, and the local store's day numbers
// count from it (day 25569 is 1970-01-01). Plain constants for the field
// texts and the providers alike.

namespace querlin::data {

inline constexpr int kZeroDayYear = 1899;
inline constexpr int kZeroDayMonth = 12;
inline constexpr int kZeroDayDay = 30;
inline constexpr long long kZeroDayTo1970Days = 25569;

} // namespace querlin::data
