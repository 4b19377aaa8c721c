// What reaches stdout: timestamps, text lines, JSON lines and the describe
// JSON made from the host's values.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "NodeDescription.h"
#include "TranscriptPrinter.h"

namespace corvane::cli {
namespace {

TEST(OutputFormat, TimestampsRoundToTheMillisecondAndCarry)
{
    EXPECT_EQ(formatTimestamp(5.0640625), "00:05.064");
    EXPECT_EQ(formatTimestamp(59.9996), "01:00.000");
    EXPECT_EQ(formatTimestamp(3725.5), "62:05.500");
}

TEST(OutputFormat, TextLineHasTheWindowAndTheTrimmedText)
{
    EXPECT_EQ(formatTextLine({32000, 72000}, " And so my fellow Americans\n"),
              "[00:02.000 --> 00:04.500]  And so my fellow Americans");
    EXPECT_EQ(formatTextLine({0, 16}, "   "), "[00:00.000 --> 00:00.001]  ");
}

TEST(OutputFormat, JsonLineHasItsFieldsInOrderWithTheirTypes)
{
    const std::string line = formatJsonLine("a b.wav", {0, 40000}, {" hi \"there\"", 812});
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(nlohmann::ordered_json::parse(line).dump(),
              R"({"file":"a b.wav","start":0.0,"end":2.5,"text":"hi \"there\"","processingTime":812})");
    // A token boundary can fall inside a UTF-8 sequence.
    EXPECT_TRUE(nlohmann::json::accept(formatJsonLine("f.wav", {0, 16000}, {"caf\xc3", 1})));
}

TEST(NodeDescription, HostValuesBecomeJsonWithTheMapsKeyOrder)
{
    const CVAnyMap nested{{"zeta", CVAny()}, {"alpha", true}};
    const CVAnyMap map{{"i", 42}, {"f", 0.25}, {"s", "text"}, {"m", nested}, {"e", CVAnyMap{}}};
    EXPECT_EQ(toJson(map).dump(), R"({"e":{},"f":0.25,"i":42,"m":{"alpha":true,"zeta":null},"s":"text"})");
}

} // namespace
} // namespace corvane::cli
