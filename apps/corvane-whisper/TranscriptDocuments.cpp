#include "TranscriptDocuments.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "AtomicFileWrite.h"
#include "CommandError.h"

namespace corvane::cli {

namespace fs = std::filesystem;

TranscriptDocuments::TranscriptDocuments(DocumentSettings chosen, std::FILE* out)
    : settings(std::move(chosen)), stream(out)
{
}

std::string TranscriptDocuments::pathFor(const std::string& source, OutputFormat format) const
{
    fs::path name = fs::path(source).filename();
    name.replace_extension(nameOf(format));
    return (fs::path(settings.outputDirectory) / name).string();
}

void TranscriptDocuments::prepare(const std::vector<std::string>& sources) const
{
    if (!active() || settings.outputDirectory.empty())
        return;
    const std::string& folder = settings.outputDirectory;
    std::error_code error;
    fs::create_directories(folder, error);
    if (!error && !fs::is_directory(folder, error))
        error = std::make_error_code(std::errc::not_a_directory);
    // Only a file written there tells for sure (permissions, a read-only
    // mount, a full disk).
    const fs::path probe = fs::path(folder) / ".corvane-whisper-probe";
    std::string failure = error ? error.message() : modelfile::writeFileAtomically(probe, [](std::ostream&) {});
    fs::remove(probe, error);
    if (!failure.empty())
        throw CommandError("cannot write to the output folder " + folder + ": " + failure);

    std::map<std::string, std::string> writers;
    for (const std::string& source : sources) {
        const auto [previous, added] = writers.emplace(pathFor(source, settings.formats.front()), source);
        if (!added)
            throw CommandError(previous->second + " and " + source + " would both be written to " + previous->first +
                               ": transcribe them in separate runs or to separate folders");
    }
}

void TranscriptDocuments::finishSource(const std::string& source)
{
    std::vector<TimedUtterance> done;
    done.swap(utterances);
    if (!active())
        return;
    if (settings.outputDirectory.empty()) {
        const std::string document = formatDocument(settings.formats.front(), source, done, settings.maxLineLength);
        std::fwrite(document.data(), 1, document.size(), stream);
        std::fflush(stream);
        return;
    }
    for (const OutputFormat format : settings.formats) {
        const std::string document = formatDocument(format, source, done, settings.maxLineLength);
        const std::string path = pathFor(source, format);
        const std::string failure =
            modelfile::writeFileAtomically(path, [&](std::ostream& out) { out << document; });
        if (!failure.empty())
            throw CommandError("cannot write " + path + ": " + failure);
    }
}

} // namespace corvane::cli
