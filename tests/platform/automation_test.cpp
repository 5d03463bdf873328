#include <gtest/gtest.h>

#include "platform/Automation.h"
#include "platform/Error.h"
#include "testsupport/TestSupport.h"

using namespace querlin;
using namespace querlin::platform;
using querlin::test::ErrorOf;

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
    EXPECT_EQ(ErrorOf([&] { CreateOleObject("No.Such.Class"); }), "Invalid class string");
    auto object = CreateOleObject("Test.Recorder2");
    EXPECT_EQ(ErrorOf([&] { object->Invoke("Destroy", {}); }), "Unknown name.");
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

namespace {

// An object whose members record how they were reached, for the dispatch
// tests: "Value" is a property with index arguments, "Twice" a method.
class Probe : public AutomationObject {
public:
    std::vector<std::string> log;
    OleVariant Dispatch(std::string_view name, DispatchKind kind, std::span<const OleVariant> arguments) override
    {
        std::string line = std::string(kind == DispatchKind::Method ? "call " : kind == DispatchKind::PropertyGet ? "get " : "put ") + std::string(name);
        for (const auto& a : arguments)
            line += "|" + a.AsText();
        log.push_back(line);
        if (SameAutomationName(name, "twice") && kind == DispatchKind::Method)
            return OleVariant(arguments[0].AsInteger() * 2);
        if (SameAutomationName(name, "value"))
            return OleVariant("v");
        throw Error("Unknown name.");
    }
};

} // namespace

TEST(Automation, MethodsPropertyReadsAndIndexedWritesReachTheObjectByName)
{
    Probe probe;
    const OleVariant three[] = {OleVariant("21")};
    EXPECT_EQ(probe.CallMethod("TWICE", three).AsInteger(), 42);
    const OleVariant index[] = {OleVariant(2), OleVariant(3)};
    EXPECT_EQ(probe.GetProperty("Value", index).AsText(), "v");
    const OleVariant indexAndValue[] = {OleVariant(2), OleVariant(3), OleVariant("中文")};
    probe.SetProperty("value", indexAndValue);
    EXPECT_EQ(probe.log, (std::vector<std::string>{"call TWICE|21", "get Value|2|3", "put value|2|3|中文"}));
    EXPECT_EQ(ErrorOf([&] { probe.SetProperty("value", {}); }), "Invalid number of parameters.");
}

TEST(Automation, ValuesConvertAsLateBoundArgumentsDo)
{
    struct Case {
        const char* label;
        OleVariant value;
        std::string integer;  // AsInteger, or the error
        std::string text;     // AsText, or the error
    };
    const auto integerOf = [](const OleVariant& v) {
        try { return std::to_string(v.AsInteger()); } catch (const Error& e) { return std::string(e.what()); }
    };
    const auto textOf = [](const OleVariant& v) {
        try { return v.AsText(); } catch (const Error& e) { return std::string(e.what()); }
    };
    const Case cases[] = {
        {"integer", OleVariant(-7), "-7", "-7"},
        {"decimal text", OleVariant("12"), "12", "12"},
        {"text with letters", OleVariant("12a"), "Type mismatch.", "12a"},
        {"empty text", OleVariant(""), "Type mismatch.", ""},
        {"nothing", OleVariant(), "Type mismatch.", ""},
        {"object", OleVariant(std::shared_ptr<AutomationObject>(std::make_shared<Probe>())), "Type mismatch.", "Type mismatch."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(integerOf(c.value), c.integer);
        EXPECT_EQ(textOf(c.value), c.text);
    }
}

TEST(Automation, HiddenIdentifierIsUnknownUntilShownAgain)
{
    RegisterRecorder("Test.Hidden");
    SetAutomationClassHidden("TEST.HIDDEN", true);
    EXPECT_FALSE(AutomationClassRegistered("Test.Hidden"));
    EXPECT_EQ(ErrorOf([] { CreateOleObject("Test.Hidden"); }), "Invalid class string");
    RegisterRecorder("Test.Hidden");
    EXPECT_FALSE(AutomationClassRegistered("Test.Hidden"));
    SetAutomationClassHidden("test.hidden", false);
    EXPECT_TRUE(AutomationClassRegistered("Test.Hidden"));
    EXPECT_NE(CreateOleObject("Test.Hidden"), nullptr);
}
