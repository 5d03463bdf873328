#include <gtest/gtest.h>

#include "platform/Automation.h"
#include "platform/Error.h"

using namespace querlin;
using namespace querlin::platform;

namespace {

// A class whose objects record the calls they get, for the tests below.
std::vector<std::string> g_calls;

void RegisterRecorder(const std::string& progId)
{
    RegisterAutomationClass(progId, [] {
        auto object = std::make_unique<MethodTableObject>();
        object->AddMethod("Create", [](const std::vector<std::string>& args) {
            std::string line = "Create";
            for (const auto& a : args)
                line += "|" + a;
            g_calls.push_back(line);
            return std::string("made");
        });
        return object;
    });
}

} // namespace

TEST(Automation, ClassAndMethodNamesIgnoreAsciiCase)
{
    g_calls.clear();
    RegisterRecorder("Test.Recorder");
    auto object = CreateOleObject("TEST.recorder");
    EXPECT_EQ(object->Invoke("cREATE", {"a;b", "中文"}), "made");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0], "Create|a;b|中文");
}

TEST(Automation, UnknownClassAndUnknownMethodAreClearErrors)
{
    RegisterRecorder("Test.Recorder2");
    try {
        CreateOleObject("No.Such.Class");
        FAIL() << "created an object of an unknown class";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Invalid class string");
    }
    auto object = CreateOleObject("Test.Recorder2");
    try {
        object->Invoke("Destroy", {});
        FAIL() << "called a method the object does not have";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Unknown name.");
    }
}

TEST(Automation, LaterRegistrationReplacesEarlier)
{
    RegisterAutomationClass("Test.Replace", [] {
        auto o = std::make_unique<MethodTableObject>();
        o->AddMethod("Which", [](const std::vector<std::string>&) { return std::string("first"); });
        return o;
    });
    RegisterAutomationClass("test.replace", [] {
        auto o = std::make_unique<MethodTableObject>();
        o->AddMethod("Which", [](const std::vector<std::string>&) { return std::string("second"); });
        return o;
    });
    EXPECT_EQ(CreateOleObject("Test.Replace")->Invoke("Which", {}), "second");
}
