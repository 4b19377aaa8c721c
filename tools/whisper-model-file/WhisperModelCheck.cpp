#include "WhisperModelCheck.h"

#include "BoundedFileReader.h"
#include "WhisperTensorTable.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ggml.h>

namespace corvane::modelfile {
namespace {

using detail::BoundedFileReader;

struct Range {
    int64_t low;
    int64_t high;

    bool contains(int64_t value) const { return value >= low && value <= high; }
    std::string text() const { return std::to_string(low) + ".." + std::to_string(high); }
};

// The hyperparameters of real Whisper models. Upper bounds are the largest
// published model's (large-v3: 1280 wide, 20 heads, 32 layers); lower bounds
// the smallest shape whisper.cpp runs (one 64-wide head, one layer), which
// small test models use.
//
// The vocabulary sizes are those of the English-only, the multilingual and
// the large-v3 models. whisper.cpp places its special tokens by this number:
// with fewer, its timestamp tokens fall outside the logits and a run aborts;
// with more, it runs past its table of languages.
constexpr Range kVocabularySize{51864, 51866};
// Every Whisper model sees 30 s of audio as 1500 frames and writes at most 448
// tokens; the node asks for shorter audio contexts, which must fit inside.
constexpr Range kAudioContext{1500, 1500};
constexpr Range kTextContext{448, 448};
constexpr Range kWidth{64, 1280};
constexpr Range kHeads{1, 20};
constexpr Range kLayers{1, 32};
constexpr std::array<int32_t, 2> kMelBands{80, 128};
// whisper.cpp's 400-point FFT yields 201 frequency bins per frame.
constexpr int32_t kFftBins = 201;
constexpr Range kQuantisationVersion{0, GGML_QNT_VERSION};

// A tensor header: dimension count, name length and type, then the dimensions and the name.
constexpr uint64_t kTensorHeaderBytes = 12;
constexpr Range kTensorDimensions{1, GGML_MAX_DIMS};
// Longer names do not fit a ggml tensor, so no whisper.cpp tensor has one.
constexpr Range kTensorNameLength{1, 64};
constexpr uint32_t kGgmlMagic = 0x67676d6c; // "ggml" read as a little-endian number

/// The weight types whisper.cpp's CPU backend runs: f16 and those its
/// quantizer writes. An f32 file loads, but ggml's CPU convolution aborts the
/// process on its float32 kernels.
struct WeightType {
    int32_t fileType;
    ggml_type type;
};
constexpr std::array<WeightType, 11> kWeightTypes{{
    {GGML_FTYPE_MOSTLY_F16, GGML_TYPE_F16},
    {GGML_FTYPE_MOSTLY_Q4_0, GGML_TYPE_Q4_0},
    {GGML_FTYPE_MOSTLY_Q4_1, GGML_TYPE_Q4_1},
    {GGML_FTYPE_MOSTLY_Q5_0, GGML_TYPE_Q5_0},
    {GGML_FTYPE_MOSTLY_Q5_1, GGML_TYPE_Q5_1},
    {GGML_FTYPE_MOSTLY_Q8_0, GGML_TYPE_Q8_0},
    {GGML_FTYPE_MOSTLY_Q2_K, GGML_TYPE_Q2_K},
    {GGML_FTYPE_MOSTLY_Q3_K, GGML_TYPE_Q3_K},
    {GGML_FTYPE_MOSTLY_Q4_K, GGML_TYPE_Q4_K},
    {GGML_FTYPE_MOSTLY_Q5_K, GGML_TYPE_Q5_K},
    {GGML_FTYPE_MOSTLY_Q6_K, GGML_TYPE_Q6_K},
}};

std::string weightTypeNames()
{
    std::string names;
    for (const auto& weightType : kWeightTypes)
        names += (names.empty() ? "" : ", ") + std::string(ggml_type_name(weightType.type));
    return names;
}

std::string typeName(int32_t type)
{
    if (type >= 0 && type < GGML_TYPE_COUNT && ggml_blck_size(static_cast<ggml_type>(type)) > 0)
        return ggml_type_name(static_cast<ggml_type>(type));
    return std::to_string(type) + " (not a ggml type)";
}

ggml_type storedType(TensorRole role, ggml_type weights)
{
    switch (role) {
    case TensorRole::Float32:
        return GGML_TYPE_F32;
    case TensorRole::Convolution:
        return weights == GGML_TYPE_F32 ? GGML_TYPE_F32 : GGML_TYPE_F16;
    case TensorRole::Matrix:
        break;
    }
    return weights;
}

/// Names come from the file: anything unprintable is shown as \xNN so that
/// the reason stays one readable line.
std::string printable(std::string_view text)
{
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\') {
            shown += c;
        } else {
            static constexpr char digits[] = "0123456789abcdef";
            shown += {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
        }
    }
    return shown;
}

std::string describeShape(const std::array<int64_t, GGML_MAX_DIMS>& shape, size_t dimensions)
{
    std::string text = "[";
    for (size_t i = 0; i < dimensions; ++i)
        text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + "]";
}

/// The size of a tensor's data, from dimensions checked against the file's
/// hyperparameters (rows are whole blocks of the type).
uint64_t tensorBytes(const std::vector<int32_t>& dimensions, ggml_type type)
{
    uint64_t rows = 1;
    for (size_t d = 1; d < dimensions.size(); ++d)
        rows *= static_cast<uint64_t>(dimensions[d]);
    return ggml_row_size(type, dimensions.front()) * rows;
}

/// Walks the file in whisper.cpp's reading order, refusing (by throwing
/// std::runtime_error with the reason) at the first thing that would make
/// whisper.cpp fail, abort or misbehave. Lives on the calling thread only.
class ModelFileCheck {
public:
    ModelFileCheck(BoundedFileReader& in, ModelFileReport& report) : in(in), report(report) {}

    void run()
    {
        magic();
        hyperparameters();
        melFilters();
        vocabulary();
        tensors();
    }

private:
    [[noreturn]] static void refuse(const std::string& reason) { throw std::runtime_error(reason); }

    void need(uint64_t bytes, const std::string& what)
    {
        if (bytes > in.remaining())
            refuse("truncated: " + what + " needs " + std::to_string(bytes) + " bytes, " +
                   std::to_string(in.remaining()) + " left");
    }

    void magic()
    {
        if (in.remaining() < 4)
            refuse("not a ggml Whisper model (" + std::to_string(in.remaining()) + " byte" + (in.remaining() == 1 ? "" : "s") +
                   ")");
        const uint32_t magic = in.readU32();
        if (magic == 0x46554747) // "GGUF"
            refuse("not a ggml Whisper model (a GGUF file; whisper.cpp reads Whisper models in the older ggml format)");
        if (magic != kGgmlMagic) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08x", magic);
            refuse(std::string("not a ggml Whisper model (magic ") + hex + ", expected 0x67676d6c)");
        }
    }

    void hyperparameters()
    {
        WhisperHyperparameters& h = report.hyperparameters;
        need(11 * 4, "the hyperparameter block");
        for (int32_t* field : {&h.vocabularySize, &h.audioContext, &h.audioState, &h.audioHeads, &h.audioLayers,
                               &h.textContext, &h.textState, &h.textHeads, &h.textLayers, &h.melBands, &h.fileType})
            *field = in.readI32();

        struct Field {
            const char* name;
            int32_t value;
            Range range;
        };
        for (const Field& field : {Field{"n_vocab", h.vocabularySize, kVocabularySize},
                                   Field{"n_audio_ctx", h.audioContext, kAudioContext},
                                   Field{"n_audio_state", h.audioState, kWidth},
                                   Field{"n_audio_head", h.audioHeads, kHeads},
                                   Field{"n_audio_layer", h.audioLayers, kLayers},
                                   Field{"n_text_ctx", h.textContext, kTextContext},
                                   Field{"n_text_state", h.textState, kWidth},
                                   Field{"n_text_head", h.textHeads, kHeads},
                                   Field{"n_text_layer", h.textLayers, kLayers}})
            if (!field.range.contains(field.value))
                refuse("hyperparameter " + std::string(field.name) + " = " + std::to_string(field.value) +
                       " outside " + field.range.text());
        if (h.melBands != kMelBands[0] && h.melBands != kMelBands[1])
            refuse("hyperparameter n_mels = " + std::to_string(h.melBands) + ", not 80 or 128");

        weightType = weightTypeOf(h.fileType);
        if (h.textState != h.audioState)
            refuse("hyperparameters disagree: n_text_state = " + std::to_string(h.textState) +
                   ", n_audio_state = " + std::to_string(h.audioState));
        for (const auto& [heads, width, headName] : {std::tuple{h.audioHeads, h.audioState, "n_audio_head"},
                                                     std::tuple{h.textHeads, h.textState, "n_text_head"}})
            if (width % heads != 0)
                refuse("hyperparameters disagree: " + std::string(headName) + " = " + std::to_string(heads) +
                       " does not divide the width " + std::to_string(width));
        // Quantised rows are whole blocks; whisper.cpp's rows are a width or four.
        if (const auto block = ggml_blck_size(weightType); h.audioState % block != 0)
            refuse("weight type " + std::string(ggml_type_name(weightType)) + " needs widths in multiples of " +
                   std::to_string(block) + ", n_audio_state = " + std::to_string(h.audioState));
    }

    static ggml_type weightTypeOf(int32_t fileType)
    {
        const std::string stated = "hyperparameter ftype = " + std::to_string(fileType);
        const int32_t base = fileType % GGML_QNT_VERSION_FACTOR;
        if (fileType >= 0 && base == GGML_FTYPE_ALL_F32)
            refuse(stated + " (f32): whisper.cpp's CPU backend aborts on float32 convolution weights; "
                            "convert the model to f16");
        for (const auto& weightType : kWeightTypes)
            if (fileType >= 0 && base == weightType.fileType) {
                if (!kQuantisationVersion.contains(fileType / GGML_QNT_VERSION_FACTOR))
                    refuse(stated + ": quantisation version " + std::to_string(fileType / GGML_QNT_VERSION_FACTOR) +
                           " outside " + kQuantisationVersion.text());
                return weightType.type;
            }
        refuse(stated + " is not a weight type whisper.cpp runs (" + weightTypeNames() + ")");
    }

    void melFilters()
    {
        need(8, "the mel filter header");
        const int32_t bands = in.readI32();
        const int32_t bins = in.readI32();
        if (bands != report.hyperparameters.melBands)
            refuse("mel filters: " + std::to_string(bands) + " bands, but n_mels = " +
                   std::to_string(report.hyperparameters.melBands));
        if (bins != kFftBins)
            refuse("mel filters: " + std::to_string(bins) + " FFT bins, expected " + std::to_string(kFftBins));
        const uint64_t bytes = uint64_t{4} * static_cast<uint64_t>(bands) * static_cast<uint64_t>(bins);
        need(bytes, "the mel filter block");
        in.skip(bytes);
    }

    void vocabulary()
    {
        need(4, "the vocabulary's token count");
        const int32_t count = in.readI32();
        const Range counts{0, report.hyperparameters.vocabularySize};
        if (!counts.contains(count))
            refuse("vocabulary: token count " + std::to_string(count) + " outside " + counts.text() +
                   " (n_vocab)");
        const auto token = [](int32_t id) { return "vocabulary token " + std::to_string(id); };
        for (int32_t id = 0; id < count; ++id) {
            if (in.remaining() < 4)
                need(4, token(id));
            const uint32_t length = in.readU32();
            if (length > in.remaining())
                need(length, token(id));
            in.skip(length);
        }
    }

    void tensors()
    {
        table = whisperTensorTable(report.hyperparameters);
        for (size_t i = 0; i < table.size(); ++i) {
            index.emplace(table[i].name, i);
            report.weightBytes += tensorBytes(table[i].dimensions, storedType(table[i].role, weightType));
        }
        seen.assign(table.size(), false);

        // whisper.cpp reads another tensor header while a whole one is left.
        size_t count = 0;
        for (; in.remaining() >= kTensorHeaderBytes; ++count) {
            if (count == table.size())
                refuse(std::to_string(in.remaining()) +
                       " bytes follow the last tensor; whisper.cpp would read them as one more tensor and fail");
            tensor();
        }
        report.tensorCount = static_cast<int>(count);

        if (count > 0 && count < table.size()) {
            const auto missing = std::find(seen.begin(), seen.end(), false) - seen.begin();
            refuse("incomplete: " + std::to_string(count) + " of " + std::to_string(table.size()) + " tensors; '" +
                   table[static_cast<size_t>(missing)].name + "' is missing");
        }
        // Weight-less test models end with their vocabulary; a model cut off
        // inside its first tensor header would load as one.
        if (count == 0 && in.remaining() > 0)
            need(kTensorHeaderBytes, "the first tensor header");
        if (count == 0)
            report.warnings.push_back(
                "no tensors: a weight-less model, which whisper.cpp runs with uninitialised weights (its text is noise)");
        if (in.remaining() > 0)
            report.warnings.push_back(std::to_string(in.remaining()) + " bytes after the last tensor, ignored");
    }

    /// Reads and checks one tensor header, then skips the tensor's data.
    void tensor()
    {
        const std::string header = "the tensor header at byte " + std::to_string(in.position());
        const int32_t dimensions = in.readI32();
        const int32_t nameLength = in.readI32();
        const int32_t type = in.readI32();
        if (!kTensorDimensions.contains(dimensions))
            refuse(header + ": dimension count " + std::to_string(dimensions) + " outside " +
                   kTensorDimensions.text());
        if (!kTensorNameLength.contains(nameLength))
            refuse(header + ": name length " + std::to_string(nameLength) + " outside " + kTensorNameLength.text());
        need(4 * static_cast<uint64_t>(dimensions) + static_cast<uint64_t>(nameLength), header);

        std::array<int64_t, GGML_MAX_DIMS> shape{1, 1, 1, 1};
        for (int32_t d = 0; d < dimensions; ++d)
            shape[static_cast<size_t>(d)] = in.readI32();
        std::string name(static_cast<size_t>(nameLength), '\0');
        in.read(name.data(), name.size());

        const auto found = index.find(name);
        if (found == index.end())
            refuse("unknown tensor '" + printable(name) + "'");
        if (seen[found->second])
            refuse("tensor '" + name + "' appears twice");
        seen[found->second] = true;
        const WhisperTensorEntry& expected = table[found->second];

        // whisper.cpp compares shapes padded with ones, as ggml keeps them.
        std::array<int64_t, GGML_MAX_DIMS> expectedShape{1, 1, 1, 1};
        std::copy(expected.dimensions.begin(), expected.dimensions.end(), expectedShape.begin());
        if (shape != expectedShape)
            refuse("tensor '" + name + "' has shape " + describeShape(shape, static_cast<size_t>(dimensions)) +
                   ", expected " + describeShape(expectedShape, expected.dimensions.size()));
        const ggml_type expectedType = storedType(expected.role, weightType);
        if (type != expectedType)
            refuse("tensor '" + name + "' has type " + typeName(type) + ", expected " + ggml_type_name(expectedType));

        const uint64_t bytes = tensorBytes(expected.dimensions, expectedType);
        need(bytes, "tensor '" + name + "'");
        in.skip(bytes);
    }

    BoundedFileReader& in;
    ModelFileReport& report;
    ggml_type weightType = GGML_TYPE_F16;
    std::vector<WhisperTensorEntry> table;
    std::unordered_map<std::string_view, size_t> index; ///< Into table's names.
    std::vector<bool> seen;
};

} // namespace

ModelFileReport checkWhisperModelFile(const std::filesystem::path& path)
{
    ModelFileReport report;
    // Non-blocking, so that a FIFO given as a model cannot hang the check.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        report.reason = std::string("cannot be opened: ") + std::strerror(errno);
        return report;
    }
    struct stat status {};
    const bool stated = ::fstat(descriptor, &status) == 0;
    BoundedFileReader in(descriptor, stated && S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0);
    if (!stated)
        report.reason = std::string("cannot be read: ") + std::strerror(errno);
    else if (S_ISDIR(status.st_mode))
        report.reason = "a directory, not a model file";
    else if (!S_ISREG(status.st_mode))
        report.reason = "not a regular file";
    else if (status.st_size == 0)
        report.reason = "empty file";
    if (!report.accepted())
        return report;

    try {
        ModelFileCheck(in, report).run();
    } catch (const std::runtime_error& refusal) {
        report.reason = refusal.what();
    }
    return report;
}

} // namespace corvane::modelfile
