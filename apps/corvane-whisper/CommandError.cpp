#include "CommandError.h"

#include <cstdio>

namespace corvane::cli {

void reportError(const std::string& message)
{
    const std::string line = "corvane-whisper: error: " + message + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace corvane::cli
