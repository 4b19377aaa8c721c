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

TEST(CVAny, StrictAccessorsRefuseOtherKinds)
{
    EXPECT_TRUE(CVAny().isEmpty());
    EXPECT_TRUE(CVAny(std::int8_t{3}).isInteger());
    EXPECT_TRUE(CVAny(2.5f).isFloat());
    EXPECT_TRUE(CVAny("text").isString()); // not a bool, despite the pointer
    EXPECT_THROW(CVAny("5").asInteger(), CVAnyConversionError);
    EXPECT_THROW(CVAny(5).asFloat(), CVAnyConversionError);
    EXPECT_THROW(CVAny(true).asInteger(), CVAnyConversionError);
    EXPECT_THROW(CVAny().asMap(), CVAnyConversionError);
    // (void): without it clang reads the statement as a declaration of "max".
    EXPECT_THROW((void)CVAny(std::numeric_limits<std::uint64_t>::max()), std::out_of_range);
    EXPECT_EQ(CVAny(std::uint64_t{1} << 62).asInteger(), 1LL << 62);
}

TEST(CVAny, ConvertToInt)
{
    EXPECT_EQ(CVAny::convert<int>(CVAny(-12)), -12);
    EXPECT_EQ(CVAny::convert<int>(CVAny(3.0)), 3);
    EXPECT_EQ(CVAny::convert<int>(CVAny("-2147483648")), std::numeric_limits<int>::min());

    EXPECT_THROW(CVAny::convert<int>(CVAny(2147483648LL)), std::out_of_range);
    EXPECT_THROW(CVAny::convert<int>(CVAny(1e12)), std::out_of_range);
    EXPECT_THROW(CVAny::convert<int>(CVAny("2147483648")), std::out_of_range);
    EXPECT_THROW(CVAny::convert<int>(CVAny("99999999999999999999999")), std::out_of_range);

    EXPECT_THROW(CVAny::convert<int>(CVAny(3.5)), CVAnyConversionError);
    EXPECT_THROW(CVAny::convert<int>(CVAny(std::nan(""))), CVAnyConversionError);
    EXPECT_THROW(CVAny::convert<int>(CVAny(HUGE_VAL)), CVAnyConversionError);
    EXPECT_THROW(CVAny::convert<int>(CVAny(true)), CVAnyConversionError);
    EXPECT_THROW(CVAny::convert<int>(CVAny()), CVAnyConversionError);
    EXPECT_THROW(CVAny::convert<int>(CVAny(CVAnyMap{})), CVAnyConversionError);
}

TEST(CVAny, StringsMustBeEntirelyANumber)
{
    for (const char* junk : {"", " 1", "1 ", "1x", "0x10", "1.0", "+1", "--1", "abc"})
        EXPECT_THROW(CVAny::convert<int>(CVAny(junk)), CVAnyConversionError) << '"' << junk << '"';
    for (const char* junk : {"", " 1.5", "1.5 ", "1.5f", "1,5", "nan", "inf"})
        EXPECT_THROW(CVAny::convert<float>(CVAny(junk)), CVAnyConversionError) << '"' << junk << '"';
    // Digits too many for the type do not make text with junk after them a
    // number out of range: it is no number at all.
    for (const char* junk : {"99999999999999999999x", "99999999999999999999 ", "-99999999999999999999.5"})
        EXPECT_THROW(CVAny::convert<int>(CVAny(junk)), CVAnyConversionError) << '"' << junk << '"';
    for (const char* junk : {"1e400x", "1e400 ", "-1e400f"})
        EXPECT_THROW(CVAny::convert<float>(CVAny(junk)), CVAnyConversionError) << '"' << junk << '"';
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny("-1.5e3")), -1500.0f);
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny("7")), 7.0f);
}

TEST(CVAny, ConversionErrorsNameBothTypesAndTheValue)
{
    EXPECT_EQ(conversionMessage<int>(CVAny("abc")), "cannot convert string \"abc\" to int");
    EXPECT_EQ(conversionMessage<bool>(CVAny(1)), "cannot convert integer 1 to bool");
    EXPECT_NE(conversionMessage<int>(CVAny(5000000000LL)).find("5000000000"), std::string::npos);
    EXPECT_NE(conversionMessage<std::string>(CVAny()).find("empty"), std::string::npos);
}

TEST(CVAny, ConvertToFloat)
{
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny(3)), 3.0f);
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny(0.25)), 0.25f);
    EXPECT_TRUE(std::isnan(CVAny::convert<float>(CVAny(std::nan("")))));
    EXPECT_EQ(CVAny::convert<float>(CVAny(-HUGE_VAL)), -std::numeric_limits<float>::infinity());
    EXPECT_THROW(CVAny::convert<float>(CVAny(1e300)), std::out_of_range);
    EXPECT_THROW(CVAny::convert<float>(CVAny("1e300")), std::out_of_range);
    EXPECT_THROW(CVAny::convert<float>(CVAny(false)), CVAnyConversionError);
}

TEST(CVAny, ConvertToBoolAndString)
{
    EXPECT_TRUE(CVAny::convert<bool>(CVAny(true)));
    EXPECT_TRUE(CVAny::convert<bool>(CVAny("true")));
    EXPECT_FALSE(CVAny::convert<bool>(CVAny("false")));
    EXPECT_THROW(CVAny::convert<bool>(CVAny("TRUE")), CVAnyConversionError);
    EXPECT_THROW(CVAny::convert<bool>(CVAny(0)), CVAnyConversionError);

    EXPECT_EQ(CVAny::convert<std::string>(CVAny("a b")), "a b");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(false)), "false");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(-42)), "-42");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(2.5)), "2.5");
    EXPECT_THROW(CVAny::convert<std::string>(CVAny(CVAnyMap{})), CVAnyConversionError);

    // The text of a float reads back as the same value.
    const std::string text = CVAny::convert<std::string>(CVAny(0.1f));
    EXPECT_EQ(CVAny::convert<float>(CVAny(text)), 0.1f);
}

TEST(CVAny, EqualityComparesKindAndContent)
{
    EXPECT_EQ(CVAny(), CVAny());
    EXPECT_EQ(CVAny(1), CVAny(1L));
    EXPECT_NE(CVAny(1), CVAny(1.0));
    EXPECT_NE(CVAny(1), CVAny("1"));
    EXPECT_NE(CVAny(true), CVAny(1));
    EXPECT_EQ(CVAny(CVAnyMap{{"a", 1}}), CVAny(CVAnyMap{{"a", 1}}));
    EXPECT_NE(CVAny(CVAnyMap{{"a", 1}}), CVAny(CVAnyMap{{"a", 2}}));
}

TEST(CVAnyMap, IteratesInKeyOrderAndNests)
{
    CVAnyMap map{{"zeta", 1}, {"alpha", "x"}};
    map.set("mid", CVAnyMap{{"inner", true}});
    map.set("zeta", 2); // replaces

    std::vector<std::string> keys;
    for (const auto& [key, value] : map)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"alpha", "mid", "zeta"}));
    EXPECT_EQ(map.at("zeta"), CVAny(2));
    EXPECT_TRUE(map.at("mid").asMap().get<bool>("inner"));

    // A map value is a snapshot: changing the source map afterwards does not
    // change values already made from it.
    CVAnyMap source{{"k", 1}};
    const CVAny snapshot(source);
    source.set("k", 2);
    EXPECT_EQ(snapshot.asMap().at("k"), CVAny(1));

    EXPECT_EQ(CVAny(map).toString(), R"({"alpha": "x", "mid": {"inner": true}, "zeta": 2})");
    EXPECT_TRUE(map.erase("alpha"));
    EXPECT_FALSE(map.erase("alpha"));
    EXPECT_EQ(map.size(), 2u);
}

TEST(CVAnyMap, MissingKeys)
{
    const CVAnyMap map{{"n", "12"}};
    try {
        map.at("x");
        FAIL() << "expected std::out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "CVAnyMap: no key 'x'");
    }
    EXPECT_EQ(map.get<int>("n"), 12);
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
