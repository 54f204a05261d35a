// The built-in provider: the offered list, names, types by substring, creation of every class
// it knows and the exact texts for identifiers it does not know.
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <sstream>
#include <typeinfo>

#include "EffectRig.h"
#include "MyStandardAddOnInterface.h"
#include "TestData.h"

namespace {

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(no exception)";
}

std::string ClassName(const TCustomAddOn& a) {
    int status = 0;
    char* name = abi::__cxa_demangle(typeid(a).name(), nullptr, nullptr, &status);
    const std::string result = name ? name : "";
    std::free(name);
    return result;
}

} // namespace

TEST(StandardAddOns, NamesTypesByPartOfAnIdentifierAndExactErrorTexts) {
    // The offered names and their order are checked through the manager's list; every name in
    // the list of identifiers.
    TStandardAddOnInterface p;
    std::vector<std::string> ids{"stale"};
    EXPECT_FALSE(p.GetObjectIDs(ids));
    EXPECT_EQ(ids.size(), 22u);
    EXPECT_EQ(p.GetObjectType("{17C85AB5"), atOverlay);
    EXPECT_EQ(p.GetObjectType("8AF956428110}"), atTransition);
    EXPECT_EQ(p.GetObjectType("{C4E3FBC0-F900-11D6-A6C2-0050DA5016A5}"), atTransition);
    EXPECT_EQ(p.GetObjectType("DEAD9EE9"), atFilter);
    EXPECT_EQ(Message([&] { p.GetObjectType(""); }), "GetObjectName: ID unknown");
    EXPECT_EQ(Message([&] { p.GetObjectType("{nope}"); }), "GetObjectName: ID unknown{nope}");
    // Identifiers are compared exactly: lower case is unknown.
    const std::string lower = "{17c85ab5-9d42-44c0-a419-af1c33d77bbc}";
    EXPECT_EQ(Message([&] { p.GetObjectName(lower); }), "GetObjectName: ID unknown" + lower);
    TAddOnBridge bridge;
    bridge.ID = lower;
    EXPECT_EQ(Message([&] { p.CreateObject(bridge); }), "CreateObject: Index unknown" + lower);
}

TEST(StandardAddOns, EveryIdentifierMakesItsOwnClass) {
    // Identifiers are stored in project files: each must keep making the same effect. Each line of
    // the list: identifier, class, curves it enables, whether a filter without a node snapshot
    // refuses and leaves the frame (or else runs), and the name.
    const std::vector<uint8_t> bytes = ReadTestData("addons/standard-addons.txt");
    std::istringstream list(std::string(bytes.begin(), bytes.end()));
    TStandardAddOnInterface p;
    std::string line, id, type, name;
    size_t curves, count = 0;
    bool refuses;
    while (std::getline(list, line)) {
        std::istringstream row(line);
        if (line[0] == '#' || !(row >> id >> type >> curves >> refuses >> std::ws) ||
            !std::getline(row, name))
            continue;
        ++count;
        SCOPED_TRACE(id);
        EXPECT_EQ(p.GetObjectName(id), name);
        effectrig::Rig rig;
        rig.HasInfo = false;
        rig.Bridge.ID = id;
        auto a = p.CreateObject(rig.Bridge);
        ASSERT_TRUE(a);
        EXPECT_EQ(ClassName(*a), type);
        EXPECT_EQ(a->Bridge, &rig.Bridge);
        EXPECT_EQ(rig.Registered.size(), curves);
        // A transition without a target draws nothing.
        TBitmap in = effectrig::Noise(40, 30, 3), frame = effectrig::Copy(in);
        if (auto* t = dynamic_cast<TCustomTransition*>(a.get())) {
            EXPECT_FALSE(t->Execute(&in, &in, 0.5L));
        }
        auto* filter = dynamic_cast<TCustomFilter*>(a.get());
        if (!filter)
            continue;
        filter->Bitmap = &frame;
        EXPECT_EQ(filter->Run(0, 0), !refuses);
        EXPECT_TRUE(!refuses || effectrig::Same(frame, in));
    }
    EXPECT_EQ(count, 33u);
}
