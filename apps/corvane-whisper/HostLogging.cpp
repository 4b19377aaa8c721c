#include "HostLogging.h"

#include <cstdio>
#include <string>

#include <whisper.h>

namespace corvane::cli {

namespace {

void discardWhisperLog(ggml_log_level, const char*, void*) {}

} // namespace

void configureLogging(LogLevel level)
{
    Logger::setLevel(level);
    Logger::setSink([](LogLevel lineLevel, const std::string& line) {
        // One write per line, so lines stay whole next to our own output.
        const std::string text = std::string("[") + Logger::levelName(lineLevel) + "] " + line + "\n";
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    });

    // The extension loads the same libwhisper, so this reaches its models too.
    if (level != LogLevel::Debug)
        whisper_log_set(discardWhisperLog, nullptr);
}

} // namespace corvane::cli
