#include "RunLedger.h"

namespace corvane::test {

namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

RunLedger RunLedger::read(const std::vector<std::string>& lines)
{
    // Where the worker is between the lines it writes.
    enum class Stage { Idle, Running, AwaitingDelivery };

    RunLedger ledger;
    Stage stage = Stage::Idle;
    auto expect = [&](Stage wanted, const std::string& line) {
        if (stage != wanted)
            ledger.problems.push_back("out of order: " + line);
    };

    for (const std::string& line : lines) {
        if (startsWith(line, "[LATENCY][WHISPER_START]")) {
            expect(Stage::Idle, line);
            ++ledger.started;
            stage = Stage::Running;
        } else if (startsWith(line, "[LATENCY][WHISPER_END]")) {
            expect(Stage::Running, line);
            ++ledger.finished;
            stage = Stage::AwaitingDelivery;
        } else if (startsWith(line, "[WhisperSTTNode] Transcription: ")) {
            expect(Stage::AwaitingDelivery, line);
            ++ledger.delivered;
            stage = Stage::Idle;
        } else if (line == "[WhisperSTTNode] Failed to process audio") {
            expect(Stage::Running, line);
            ++ledger.failed;
            stage = Stage::Idle;
        } else if (startsWith(line, "[WhisperSTTNode] Transcription window ") &&
                   endsWith(line, " holds no retained audio; request dropped.")) {
            expect(Stage::Running, line);
            ++ledger.windowDrops;
            stage = Stage::Idle;
        } else if (startsWith(line, "[WhisperSTTNode] Transcription failed: ")) {
            // The worker catches what a run raises; it may come at any stage
            // of the run, even from the delivery.
            if (stage == Stage::Idle)
                ledger.problems.push_back("out of order: " + line);
            ++ledger.exceptions;
            stage = Stage::Idle;
        } else if (line == "[WhisperSTTNode] Transcription triggered but no model is loaded.") {
            expect(Stage::Idle, line);
            ++ledger.noModelDrops;
        } else if (line == "[WhisperSTTNode] Action 'transcribe': no new audio since last commit, skipping.") {
            ++ledger.skips;
        }
    }
    ledger.open = stage != Stage::Idle;
    return ledger;
}

} // namespace corvane::test
