// The host layer's values and events.

#include <corvane/core/CVAny.h>
#include <corvane/core/EventEmitter.h>

#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

using namespace corvane;

TEST(CVAny, ConvertsWhatFitsExactlyAndNamesWhatDoesNot)
{
    EXPECT_EQ(CVAny::convert<int>(CVAny("-2147483648")), std::numeric_limits<int>::min());
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny("-1.5e3")), -1500.0f);
    // Text converts only when it is entirely a number: too many digits with
    // junk after them are no number at all, not one out of range.
    for (const CVAny& value : {CVAny(3.5), CVAny(true), CVAny(""), CVAny(" 1"), CVAny("1x"), CVAny("+1"),
                               CVAny("99999999999999999999x"), CVAny("-99999999999999999999.5")})
        EXPECT_THROW(CVAny::convert<int>(value), CVAnyConversionError) << value.toString();
    for (const CVAny& value : {CVAny("1.5 "), CVAny("nan"), CVAny("1e400x"), CVAny("-1e400f")})
        EXPECT_THROW(CVAny::convert<float>(value), CVAnyConversionError) << value.toString();
    for (const CVAny& value : {CVAny(2147483648LL), CVAny(1e12), CVAny("99999999999999999999999")})
        EXPECT_THROW(CVAny::convert<int>(value), std::out_of_range) << value.toString();
    EXPECT_THROW(CVAny::convert<float>(CVAny("1e300")), std::out_of_range);
    EXPECT_THROW(CVAny::convert<bool>(CVAny("TRUE")), CVAnyConversionError); // its text: the node's table
}

TEST(EventEmitter, ListenersMayRemoveAddAndEmitDuringAnEmitAndThrowingOnesAreLogged)
{
    test::LogCapture log;
    EventEmitter emitter;
    std::vector<std::string> calls; // "<listener>:<event>"
    auto record = [&](const std::string& name) {
        return [&calls, name](const std::string& event, const CVAny&) { calls.push_back(name + ":" + event); };
    };
    EventEmitter::ListenerId self = 0, victim = 0;
    self = emitter.addListener("e", [&](const std::string&, const CVAny&) {
        EXPECT_TRUE(emitter.removeListener(self)); // must not wait for itself
        EXPECT_TRUE(emitter.removeListener(victim));
        emitter.addListener("e", record("added")); // joins from the next emit
        emitter.emitEvent("inner", CVAny());
    });
    victim = emitter.addListener("e", record("victim"));
    emitter.addListener(EventEmitter::kAnyEvent, record("any"));
    emitter.addListener("e", [](const std::string&, const CVAny&) { throw std::runtime_error("bad data"); });

    emitter.emitEvent("e", CVAny());
    emitter.emitEvent("e", CVAny());
    EXPECT_EQ(calls, (std::vector<std::string>{"any:inner", "any:e", "any:e", "added:e"}));
    EXPECT_EQ(log.texts("[EventEmitter]"), std::vector<std::string>(2, "[EventEmitter] listener for 'e' threw: bad data"));
}
