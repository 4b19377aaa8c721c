#include <corvane/core/CVAny.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

using corvane::CVAny;
using corvane::CVAnyConversionError;
using corvane::CVAnyMap;

namespace {

template <typename T>
std::string conversionMessage(const CVAny& value)
{
    try {
        CVAny::convert<T>(value);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

} // namespace

TEST(CVAny, KindsAndEquality)
{
    EXPECT_TRUE(CVAny("text").isString()); // not a bool, despite the pointer
    EXPECT_THROW(CVAny("5").asInteger(), CVAnyConversionError);
    EXPECT_THROW(CVAny(true).asInteger(), CVAnyConversionError);
    EXPECT_THROW(CVAny(5).asFloat(), CVAnyConversionError);
    // (void): without it clang reads the statement as a declaration of "max".
    EXPECT_THROW((void)CVAny(std::numeric_limits<std::uint64_t>::max()), std::out_of_range);
    EXPECT_EQ(CVAny(std::uint64_t{1} << 62).asInteger(), 1LL << 62);

    EXPECT_EQ(CVAny(1), CVAny(1L));
    EXPECT_NE(CVAny(1), CVAny(1.0));
    EXPECT_NE(CVAny(1), CVAny("1"));
    EXPECT_NE(CVAny(true), CVAny(1));
    EXPECT_NE(CVAny(CVAnyMap{{"a", 1}}), CVAny(CVAnyMap{{"a", 2}}));
}

TEST(CVAny, ConvertsWhatFitsExactly)
{
    EXPECT_EQ(CVAny::convert<int>(CVAny(3.0)), 3);
    EXPECT_EQ(CVAny::convert<int>(CVAny("-2147483648")), std::numeric_limits<int>::min());
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny(3)), 3.0f);
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny("-1.5e3")), -1500.0f);
    EXPECT_TRUE(std::isnan(CVAny::convert<float>(CVAny(std::nan("")))));
    EXPECT_EQ(CVAny::convert<float>(CVAny(-HUGE_VAL)), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(CVAny::convert<bool>(CVAny("true")));
    EXPECT_FALSE(CVAny::convert<bool>(CVAny("false")));
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(false)), "false");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(-42)), "-42");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(2.5)), "2.5");
    // The text of a float reads back as the same value.
    EXPECT_EQ(CVAny::convert<float>(CVAny(CVAny::convert<std::string>(CVAny(0.1f)))), 0.1f);
}

TEST(CVAny, RefusesWhatDoesNotConvert)
{
    // Text converts only when it is entirely a number. Digits too many for the
    // type with junk after them are no number at all, not one out of range.
    for (const CVAny& value :
         {CVAny(3.5), CVAny(std::nan("")), CVAny(HUGE_VAL), CVAny(true), CVAny(), CVAny(CVAnyMap{}), CVAny(""),
          CVAny(" 1"), CVAny("1 "), CVAny("1x"), CVAny("0x10"), CVAny("1.0"), CVAny("+1"), CVAny("--1"),
          CVAny("99999999999999999999x"), CVAny("99999999999999999999 "), CVAny("-99999999999999999999.5")})
        EXPECT_THROW(CVAny::convert<int>(value), CVAnyConversionError) << value.toString();
    for (const CVAny& value : {CVAny(false), CVAny(""), CVAny(" 1.5"), CVAny("1.5 "), CVAny("1.5f"), CVAny("1,5"),
                               CVAny("nan"), CVAny("inf"), CVAny("1e400x"), CVAny("1e400 "), CVAny("-1e400f")})
        EXPECT_THROW(CVAny::convert<float>(value), CVAnyConversionError) << value.toString();
    for (const CVAny& value : {CVAny("TRUE"), CVAny(0), CVAny()})
        EXPECT_THROW(CVAny::convert<bool>(value), CVAnyConversionError) << value.toString();
    EXPECT_THROW(CVAny::convert<std::string>(CVAny(CVAnyMap{})), CVAnyConversionError);

    for (const CVAny& value : {CVAny(2147483648LL), CVAny(1e12), CVAny("2147483648"), CVAny("99999999999999999999999")})
        EXPECT_THROW(CVAny::convert<int>(value), std::out_of_range) << value.toString();
    for (const CVAny& value : {CVAny(1e300), CVAny("1e300")})
        EXPECT_THROW(CVAny::convert<float>(value), std::out_of_range) << value.toString();

    // The message names both types and the value.
    EXPECT_EQ(conversionMessage<int>(CVAny("abc")), "cannot convert string \"abc\" to int");
    EXPECT_EQ(conversionMessage<bool>(CVAny(1)), "cannot convert integer 1 to bool");
    EXPECT_NE(conversionMessage<int>(CVAny(5000000000LL)).find("5000000000"), std::string::npos);
    EXPECT_NE(conversionMessage<std::string>(CVAny()).find("empty"), std::string::npos);
}

TEST(CVAnyMap, KeyOrderLookupAndSnapshots)
{
    CVAnyMap map{{"zeta", 1}, {"alpha", "x"}};
    map.set("mid", CVAnyMap{{"inner", true}});
    map.set("zeta", 2); // replaces
    std::vector<std::string> keys;
    for (const auto& [key, value] : map)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"alpha", "mid", "zeta"}));
    EXPECT_EQ(CVAny(map).toString(), R"({"alpha": "x", "mid": {"inner": true}, "zeta": 2})");
    EXPECT_TRUE(map.hasKey("mid"));
    EXPECT_FALSE(map.hasKey("inner"));
    EXPECT_TRUE(map.at("mid").asMap().get<bool>("inner"));
    EXPECT_TRUE(map.erase("alpha"));
    EXPECT_FALSE(map.erase("alpha"));
    EXPECT_EQ(map.size(), 2u);

    // A map value is a snapshot: changing the source map afterwards does not
    // change values already made from it.
    CVAnyMap source{{"k", 1}};
    const CVAny snapshot(source);
    source.set("k", 2);
    EXPECT_EQ(snapshot.asMap().at("k"), CVAny(1));

    try {
        map.at("x");
        FAIL() << "expected std::out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "CVAnyMap: no key 'x'");
    }
    EXPECT_EQ((CVAnyMap{{"n", "12"}}.get<int>("n")), 12);
    EXPECT_EQ(map.get<int>("x", 5), 5);
    EXPECT_THROW(map.get<int>("x"), std::out_of_range);
}

TEST(CVAnyMap, GetBoolIsStrict)
{
    const CVAnyMap map{{"flag", true}, {"text", "true"}, {"number", 1}};
    EXPECT_TRUE(map.get<bool>("flag"));
    EXPECT_FALSE(map.get<bool>("absent", false));
    EXPECT_THROW(map.get<bool>("absent"), std::out_of_range);
    EXPECT_THROW(map.get<bool>("text"), std::invalid_argument);
    EXPECT_THROW(map.get<bool>("number", true), std::invalid_argument);
}
