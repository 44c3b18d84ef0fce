// The live side of the program compiled as one unit: a screen's WebSocket and its batched writes,
// its room, the rooms' registry and their builder, and the state they share (see HttpUnit.cpp).

#include "server/BatchedSocket.cpp"
#include "server/LiveSession.cpp"
#include "server/LiveRoom.cpp"
#include "server/RoomRegistry.cpp"
#include "server/RoomBuilder.cpp"
#include "server/ServerState.cpp"
#include "server/TickDriver.cpp"
