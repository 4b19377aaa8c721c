// The node on a Vulkan device, in a build with whisper.cpp's Vulkan backend
// (label gpu). Without a GPU, Mesa's lavapipe (a CPU posing as one) stands in
// for one: it proves the path, not the speed.

#include <cstdlib>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

// Vulkan is off for the other tests (GGML_DISABLE_VULKAN); these list CPU-type
// devices such as lavapipe too, which ggml does only when they are named: the
// Vulkan loader's first device unless GGML_VK_VISIBLE_DEVICES names another.
[[maybe_unused]] const int kVisible = unsetenv("GGML_DISABLE_VULKAN") + setenv("GGML_VK_VISIBLE_DEVICES", "0", 0);
const std::string kGpuLine = "[WhisperSTTNode] Running on GPU Vulkan0 (";

// "useGPU" takes the node to the Vulkan device (whisper.cpp says so too), a
// "loadModel" without it back to the CPU, and both give the same text: the
// weight-less model, and the real tiny.en on the start of jfk.wav.
TEST(NodeGpu, RunsWhereAskedAndGivesTheCpuText)
{
    std::vector<std::pair<std::string, std::vector<float>>> cases{{weightlessTinyModel(), sine(440.0, 16000.0, 2.0)}};
    if (!realTinyModel().empty() && !sharedFile("audio/jfk.wav").empty()) // else the weight-less model only
        cases.emplace_back(realTinyModel(), readMono16k(sharedFile("audio/jfk.wav")));
    for (auto& [model, audio] : cases) {
        SCOPED_TRACE(model);
        audio.resize(std::min<std::size_t>(audio.size(), 3 * 16000)); // jfk: "And so my fellow Americans"
        LogCapture log;
        std::string whisperLog; // of the load, on this thread
        whisper_log_set([](ggml_log_level, const char* text, void* to) { *static_cast<std::string*>(to) += text; },
                        &whisperLog);
        WhisperSTTNode node({{"modelPath", model}, {"useGPU", true}, {"numberOfThreads", 2}});
        whisper_log_set(nullptr, nullptr);
        EXPECT_NE(whisperLog.find("whisper_backend_init_gpu: using Vulkan0 backend"), std::string::npos);
        ASSERT_EQ(log.count(kGpuLine), 1u);
        const std::string onGpu = transcribeAll(node, audio, 16000.0, std::chrono::minutes(10));

        ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", model}}).isOk()); // no "useGPU": false
        EXPECT_EQ(log.count("[WhisperSTTNode] Running on the CPU: useGPU is false."), 1u);
        EXPECT_EQ(transcribeAll(node, audio), onGpu);
        EXPECT_NE(onGpu, "(none)");
    }
}

// A device that fails under whisper.cpp (a stand-in throws, as Vulkan's
// vk::SystemError does) leaves the model on the CPU, with an error line.
TEST(NodeGpu, ADeviceThatFailsLeavesTheModelOnTheCpu)
{
    LogCapture log;
    WhisperSTTNode node(testModelConfig({{"initializeModel", false}}));
    node.modelSlot().setContextInit([](const char* path, whisper_context_params params) {
        return params.use_gpu ? throw std::runtime_error("device lost") : whisper_init_from_file_with_params(path, params);
    });
    ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}, {"useGPU", true}}).isOk());
    const std::vector<std::string> lines = log.texts("[WhisperSTTNode] GPU Vulkan0 (");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(") could not take the model: device lost; running on the CPU.")) << lines[0];
    EXPECT_NE(transcribeAll(node, sine(440.0, 16000.0, 1.0)), "(none)");
}

} // namespace
} // namespace corvane::test
