// The live side of the program compiled as one unit: a screen's WebSocket
// and its batched writes, and the state the sessions share (see HttpUnit.cpp).

#include "server/net/BatchedSocket.cpp"
#include "server/net/LiveSession.cpp"
#include "server/net/ServerState.cpp"
