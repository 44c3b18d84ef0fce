// The live side of the program compiled as one unit: a screen's WebSocket and its batched writes,
// its room, the rooms' registry and their builder, and the state they share (see HttpUnit.cpp).

#include "server/net/BatchedSocket.cpp"
#include "server/net/LiveSession.cpp"
#include "server/rooms/LiveRoom.cpp"
#include "server/rooms/RoomRegistry.cpp"
#include "server/rooms/RoomBuilder.cpp"
#include "server/net/ServerState.cpp"
#include "server/rooms/TickDriver.cpp"
