#pragma once
// The server around the rooms, as the rooms see it: its log and limits,
// its clock (the time now, and the beat the rooms tick on), and whether it
// is stopping. A live room's host also hears when the room has been empty
// long enough to end. Tests stand in for the server with a clock of their own.

#include <memory>
#include <string>

#include "server/base/Limits.h"
#include "server/base/Log.h"
#include "server/rooms/TickQueue.h"
#include "server/rooms/TimeRules.h"

namespace kestrel {

class RoomsHost {
public:
    virtual ~RoomsHost() = default;
    virtual const Log& ServerLog() const = 0;
    virtual const ServerLimits& Limits() const = 0;
    virtual ServerTime Now() const = 0;
    // The room is ticked from now on, on the server's clock, until its Tick
    // answers false.
    virtual void StartTicking(std::weak_ptr<Ticking> room) = 0;
    virtual bool Stopping() const = 0;
    // A seat of a public room was taken or freed: the directory should say
    // so soon.
    virtual void PublicSeatsChanged() {}
};

class RoomHost : public RoomsHost {
public:
    // Room `id` has been empty for ROOM_IDLE_LIMIT: it is to end.
    virtual void Emptied(const std::string& id) = 0;
};

}  // namespace kestrel
