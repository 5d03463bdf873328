#pragma once
// The life of a record set's result as one table: the state a record set
// goes to on each event, or none where the event changes nothing. What a
// record set does on each move (the links told, the worker let go) is in
// Lifecycle.cpp; docs/rooms/data.md draws the table. Internal to the data
// layer.

#include "data/DataSet.h"

#include <cstdint>
#include <optional>

namespace querlin::data {

enum class TLifeEvent : std::uint8_t {
    Open,        // the caller opens: a worker connects and runs the query
    FirstBlock,  // the worker's first block is in, more rows may follow
    AllIn,       // the worker's result is whole at its first block
    OpenFailed,  // the worker could not connect or run the query
    Rows,        // the worker published more rows
    Ended,       // the worker read the last row
    Failed,      // the worker's fetch failed mid-result (the driver's text)
    Released,    // a stopped worker let go of the rows
    Stop,        // the user stops the fetch: the rows so far stay
    Close,       // the caller closes; the record set's end closes too
};

inline constexpr int kLifeEventCount = static_cast<int>(TLifeEvent::Close) + 1;

// The state after event in state; none where the event does nothing there
// (a stop when already stopped, rows after the end, a second open).
constexpr std::optional<TLife> Next(TLife state, TLifeEvent event)
{
    using L = TLife;
    using E = TLifeEvent;
    if (event == E::Close)
        return state == L::lfClosed ? std::nullopt : std::optional<TLife>(L::lfClosed);
    switch (state) {
    case L::lfClosed:
        if (event == E::Open)
            return L::lfOpening;
        return std::nullopt;
    case L::lfOpening:
        switch (event) {
        case E::FirstBlock: return L::lfStreaming;
        case E::AllIn: return L::lfComplete;
        case E::OpenFailed: return L::lfClosed;
        case E::Stop: return L::lfClosed;  // the attempt ends; nothing was shown
        default: return std::nullopt;
        }
    case L::lfStreaming:
        switch (event) {
        case E::Rows: return L::lfStreaming;
        case E::Ended: return L::lfComplete;
        case E::Failed: return L::lfFailed;
        case E::Stop: return L::lfStopped;
        default: return std::nullopt;
        }
    case L::lfStopped:
        // The worker may still write rows nobody will see, until it lets go.
        if (event == E::Released || event == E::Ended || event == E::Failed)
            return L::lfStopped;
        return std::nullopt;
    case L::lfComplete:
        // A result whole at its first block: its worker's end is all that follows.
        if (event == E::Ended)
            return L::lfComplete;
        return std::nullopt;
    case L::lfFailed:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace querlin::data
