// corvane-whisper: a command-line host for the CorvaneWhisper extension. It
// links only the host library and loads the extension by path at run time.

#include <cstdio>
#include <exception>

#include "CommandError.h"
#include "CommandLineOptions.h"
#include "Commands.h"
#include "HostLogging.h"

int main(int argc, char** argv)
{
    using namespace corvane::cli;

    try {
        const ParsedCommandLine parsed = parseCommandLine(argc, argv);
        switch (parsed.outcome) {
        case ParsedCommandLine::Outcome::ShowHelp:
            std::fputs(parsed.text.c_str(), stdout);
            return kExitSuccess;
        case ParsedCommandLine::Outcome::UsageError:
            reportError(parsed.text + " (see corvane-whisper --help)");
            return kExitUsage;
        case ParsedCommandLine::Outcome::Run:
            break;
        }

        const CommandLineOptions& options = parsed.options;
        configureLogging(options.logLevel);
        switch (options.command) {
        case CommandLineOptions::Command::Describe:
            return runDescribe(options);
        case CommandLineOptions::Command::Listen:
            return runListen(options);
        case CommandLineOptions::Command::ImportModel:
            return runImportModel(options);
        case CommandLineOptions::Command::Transcribe:
            break;
        }
        return runTranscribe(options);
    } catch (const CommandError& error) {
        reportError(error.what());
        return error.getExitCode();
    } catch (const std::exception& error) {
        reportError(error.what());
        return kExitFailure;
    }
}
