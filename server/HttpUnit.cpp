// The HTTP side of the program compiled as one unit: Beast's headers and
// templates once for all its files, beside LiveUnit.cpp on the other core.
// The files are included by paths under the source tree, so the compiler
// cache finds them alike from any clone.

#include "server/main.cpp"
#include "server/Server.cpp"
#include "server/net/Listener.cpp"
#include "server/net/HttpSession.cpp"
#include "server/net/HttpFiles.cpp"
#include "server/net/HttpAnswers.cpp"
