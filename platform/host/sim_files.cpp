// The file slice. Not written yet: only the reset, the census and the
// current directory.
#include "platform/host/sim.h"

namespace {
std::string currentDirectory;
}

void SimResetFiles() { currentDirectory = "C:\\"; }
int SimOpenFileHandles() { return 0; }
std::string SimCurrentDirectory() { return currentDirectory; }
