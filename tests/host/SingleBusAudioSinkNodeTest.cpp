#include <corvane/graph/SingleBusAudioSinkNode.h>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

class RecordingSink : public SingleBusAudioSinkNode {
public:
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

    using SingleBusAudioSinkNode::consume;

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
    EXPECT_FALSE(sink.setBusFormats(none));
    EXPECT_FALSE(sink.setBusFormats(two));
    EXPECT_TRUE(sink.formats.empty());

    AudioBusFormatList one{{2, 44100.0}};
    EXPECT_TRUE(sink.setBusFormats(one));
    sink.accept = false;
    EXPECT_FALSE(sink.setBusFormats(one));
    EXPECT_EQ(sink.formats, (std::vector<AudioBusFormat>{{2, 44100.0}, {2, 44100.0}}));
}

TEST(SingleBusAudioSinkNode, ForwardsTheFirstBus)
{
    RecordingSink sink;
    AudioBusArray<0> noBuses;
    EXPECT_FALSE(sink.consume(static_cast<AudioBusList&>(noBuses)));
    EXPECT_EQ(sink.consumed, nullptr);

    AudioBusArray<1> oneBus;
    EXPECT_TRUE(sink.consume(static_cast<AudioBusList&>(oneBus)));
    EXPECT_EQ(sink.consumed, &oneBus.getBus(0));

    AudioBusArray<2> twoBuses;
    sink.accept = false;
    EXPECT_FALSE(sink.consume(static_cast<AudioBusList&>(twoBuses)));
    EXPECT_EQ(sink.consumed, &twoBuses.getBus(0));
}

TEST(SingleBusAudioSinkNode, NeverThrowsIntoTheAudioThread)
{
    RecordingSink sink;
    sink.throwOnConsume = true;
    AudioBusArray<1> oneBus;
    EXPECT_FALSE(sink.consume(static_cast<AudioBusList&>(oneBus)));
}
