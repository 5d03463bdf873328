#pragma once
// The two contents the crash writer flips each file between, shared by the
// writer and the test that checks what a kill left.
#include <string>

namespace querlin::crash {

inline constexpr char kHiveKey[] = "SOFTWARE\\QuerlinCrash\\Probe";
inline constexpr char kHiveValue[] = "State";
// Long enough that a write takes a while (the hive is some 50 KB of
// UTF-16), different all along for the two states.
inline std::string HiveText(char state)
{
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += std::string(1, state) + std::to_string(i) + (state == 'A' ? " old text " : " new text, longer ");
    return text;
}

inline constexpr char kNetServiceSid[] = "ORCL";
inline std::string NetServiceHost(char state)
{
    return state == 'A' ? "old-host.example" : "the-new-host.example.org";
}

inline constexpr char kFavouriteUser[] = "SCOTT";
inline constexpr char kFavouriteTable[] = "EMP";
inline std::string FavouriteName() { return std::string(kFavouriteUser) + "." + kFavouriteTable; }

} // namespace querlin::crash
