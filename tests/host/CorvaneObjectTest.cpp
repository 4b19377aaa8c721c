#include <corvane/core/CorvaneObject.h>

#include <gtest/gtest.h>

using corvane::CorvaneObject;
using corvane::CVAny;
using corvane::CVAnyMap;
using corvane::Result;

TEST(CorvaneObject, DispatchesActionsAndNamesWhatIsMissing)
{
    CorvaneObject object;
    // A handler may use the object it belongs to without deadlocking.
    object.registerAction("remember", {}, [&object](const CVAnyMap& params) -> Result<CVAny> {
        object.setValue("last", params.at("v"));
        return object.callAction("echo", params);
    });
    object.registerAction("echo", {}, [](const CVAnyMap& params) -> Result<CVAny> { return params.at("v"); });
    object.registerAction("external", {}, nullptr);

    EXPECT_EQ(object.callAction("remember", CVAnyMap{{"v", "hi"}}).getValue(), CVAny("hi"));
    EXPECT_EQ(object.getValue("last").getValue(), CVAny("hi"));

    const auto unknown = object.callAction("missing", {});
    ASSERT_TRUE(unknown.hasError());
    EXPECT_EQ(unknown.getError().getMessage(), "Unknown action: missing");
    const auto unhandled = object.callAction("external", {});
    ASSERT_TRUE(unhandled.hasError());
    EXPECT_EQ(unhandled.getError().getMessage(), "Action 'external' has no handler");
    const auto missing = object.getValue("nope");
    ASSERT_TRUE(missing.hasError());
    EXPECT_EQ(missing.getError().getMessage(), "Unknown value: nope");
}

TEST(CorvaneObject, RegistriesKeepOrderAndReplaceInPlace)
{
    CorvaneObject object;
    object.registerAction("b", CVAnyMap{{"v", 1}}, nullptr);
    object.registerAction("a", {}, nullptr);
    object.registerAction("b", CVAnyMap{{"v", 2}}, [](const CVAnyMap&) -> Result<CVAny> { return CVAny(true); });
    object.registerEvent("z", {});
    object.registerEvent("y", CVAnyMap{{"v", 1}});
    object.registerEvent("z", CVAnyMap{{"v", 3}});

    EXPECT_EQ(object.getActionNames(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(object.getEventNames(), (std::vector<std::string>{"z", "y"}));
    EXPECT_EQ(object.getActionDescription("b"), (CVAnyMap{{"v", 2}}));
    EXPECT_EQ(object.getEventDescription("z"), (CVAnyMap{{"v", 3}}));
    EXPECT_TRUE(object.callAction("b", {}).isOk());
    EXPECT_FALSE(object.hasAction("y"));
}
