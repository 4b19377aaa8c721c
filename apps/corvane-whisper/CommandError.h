#pragma once

#include <stdexcept>
#include <string>

namespace corvane::cli {

/// Process exit codes.
enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailure = 1, ///< The command was understood but could not be carried out.
    kExitUsage = 2,   ///< The command line itself is wrong.
};

/// A failure to report to the user as one line, ending the command with
/// exitCode. The message is the whole explanation; reportError adds the
/// prefix.
class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message, int exitCode = kExitFailure)
        : std::runtime_error(message), code(exitCode) {}

    int getExitCode() const noexcept { return code; }

private:
    int code;
};

/// A window's text did not arrive in time, or the node could not make it.
/// The node may still be busy, and destroying it would wait for that run to
/// end: the command leaves at once instead (leaveAtOnce).
class TranscriptionStopped : public CommandError {
public:
    using CommandError::CommandError;
};

/// Prints "corvane-whisper: error: <message>" on stderr.
void reportError(const std::string& message);

} // namespace corvane::cli
