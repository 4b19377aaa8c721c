#include <corvane/graph/SingleBusAudioSinkNode.h>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

struct RecordingSink : SingleBusAudioSinkNode {
    bool setBusFormat(AudioBusFormat& format) override
    {
        formats.push_back(format);
        return accept;
    }

    bool consume(AudioBus& bus) override
    {
        if (throwOnConsume)
            throw std::runtime_error("broken");
        consumed = &bus;
        return accept;
    }

    bool consumeList(AudioBusList& buses) { return SingleBusAudioSinkNode::consume(buses); }

    std::vector<AudioBusFormat> formats;
    AudioBus* consumed = nullptr;
    bool accept = true;
    bool throwOnConsume = false;
};

} // namespace

TEST(SingleBusAudioSinkNode, AcceptsExactlyOneFormat)
{
    RecordingSink sink;
    AudioBusFormatList none;
    AudioBusFormatList two{{1, 16000.0}, {2, 48000.0}};
    AudioBusFormatList one{{2, 44100.0}};
    EXPECT_FALSE(sink.setBusFormats(none));
    EXPECT_FALSE(sink.setBusFormats(two));
    EXPECT_TRUE(sink.setBusFormats(one));
    sink.accept = false;
    EXPECT_FALSE(sink.setBusFormats(one));
    EXPECT_EQ(sink.formats, (std::vector<AudioBusFormat>{{2, 44100.0}, {2, 44100.0}}));
}

TEST(SingleBusAudioSinkNode, ForwardsTheFirstBusAndNeverThrows)
{
    RecordingSink sink;
    AudioBusArray<0> noBuses;
    AudioBusArray<1> oneBus;
    AudioBusArray<2> twoBuses;
    EXPECT_FALSE(sink.consumeList(noBuses));
    EXPECT_EQ(sink.consumed, nullptr);
    EXPECT_TRUE(sink.consumeList(oneBus));
    EXPECT_EQ(sink.consumed, &oneBus.getBus(0));
    sink.accept = false;
    EXPECT_FALSE(sink.consumeList(twoBuses));
    EXPECT_EQ(sink.consumed, &twoBuses.getBus(0));

    sink.throwOnConsume = true; // the audio thread must not see it
    EXPECT_FALSE(sink.consumeList(oneBus));
}
