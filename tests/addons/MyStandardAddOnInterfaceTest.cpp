// The built-in provider: the offered list, names, types by substring, creation and the exact
// texts for identifiers it does not know.
#include <gtest/gtest.h>

#include "MyCustomAddOn.h"
#include "MyStandardAddOnInterface.h"
#include "MyTransitions.h"

namespace {

const char* const CreditTitle = "{B6C646EF-84FC-4426-873F-1A9AB45BB088}";
const char* const Dissolve = "{C4E3FBC0-F900-11D6-A6C2-0050DA5016A5}";

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(no exception)";
}

} // namespace

TEST(StandardAddOns, OffersTwentyTwoInListedOrder) {
    TStandardAddOnInterface p;
    std::vector<std::string> ids{"stale"};
    EXPECT_FALSE(p.GetObjectIDs(ids));
    ASSERT_EQ(ids.size(), 22u);
    std::vector<std::string> names;
    for (const auto& id : ids)
        names.push_back(p.GetObjectName(id));
    EXPECT_EQ(names, (std::vector<std::string>{"Bitmap overlay",
                                               "Transparent Bitmap overlay",
                                               "Text overlay",
                                               "Opaque Text overlay",
                                               "SubTitle overlay",
                                               "Movie overlay",
                                               "Horizontal slide",
                                               "Vertical slide",
                                               "Dimming",
                                               "Brightness filter",
                                               "Light temperature adjustment",
                                               "Sharpen filter",
                                               "Soften filter",
                                               "Emboss filter",
                                               "Blur filter",
                                               "Edge filter",
                                               "Laplace filter",
                                               "Enchange filter",
                                               "Sketch filter",
                                               "Negative filter",
                                               "Stepback filter",
                                               "Freeze filter"}));
    EXPECT_EQ(ids.front(), "{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}");
    EXPECT_EQ(ids[8], "{71B4D000-6339-4E21-BD8F-E3045AF3A447}");
    EXPECT_EQ(ids.back(), "{4CF7E401-D89D-4E03-B5EC-AC56CDAFACE4}");
}

TEST(StandardAddOns, KnowsTheElevenItDoesNotOffer) {
    TStandardAddOnInterface p;
    EXPECT_EQ(p.GetObjectName(CreditTitle), "Credit title overlay");
    EXPECT_EQ(p.GetObjectName(Dissolve), "Dissolve");
    EXPECT_EQ(p.GetObjectType(Dissolve), atTransition);
}

TEST(StandardAddOns, TypeIsFoundByPartOfAnIdentifier) {
    TStandardAddOnInterface p;
    EXPECT_EQ(p.GetObjectType("{17C85AB5"), atOverlay);
    EXPECT_EQ(p.GetObjectType("8AF956428110}"), atTransition);
    EXPECT_EQ(p.GetObjectType("DEAD9EE9"), atFilter);
    EXPECT_EQ(Message([&] { p.GetObjectType(""); }), "GetObjectName: ID unknown");
    EXPECT_EQ(Message([&] { p.GetObjectType("{nope}"); }), "GetObjectName: ID unknown{nope}");
}

TEST(StandardAddOns, IdentifiersAreComparedExactly) {
    TStandardAddOnInterface p;
    const std::string lower = "{17c85ab5-9d42-44c0-a419-af1c33d77bbc}";
    EXPECT_EQ(Message([&] { p.GetObjectName(lower); }), "GetObjectName: ID unknown" + lower);
    TAddOnBridge bridge;
    bridge.ID = lower;
    EXPECT_EQ(Message([&] { p.CreateObject(bridge); }), "CreateObject: Index unknown" + lower);
}

TEST(StandardAddOns, CreatesEveryKnownEffectOfItsType) {
    TStandardAddOnInterface p;
    TAddOnBridge bridge;
    bridge.ID = "{7602E471-A8CA-46B2-B869-8AF956428110}";
    auto slide = p.CreateObject(bridge);
    EXPECT_TRUE(dynamic_cast<TTransHorzSlide*>(slide.get()));
    EXPECT_EQ(slide->Bridge, &bridge);
    bridge.ID = Dissolve;
    EXPECT_TRUE(dynamic_cast<TTransDissolve*>(p.CreateObject(bridge).get()));
    bridge.ID = "{DB6B2B3F-5270-4B7F-B211-25447DAB71F1}";
    EXPECT_TRUE(dynamic_cast<TTransEyesOpen*>(p.CreateObject(bridge).get()));
    bridge.ID = "{DAAF6E9E-0860-4386-B08C-47BB92CBE123}";
    EXPECT_TRUE(dynamic_cast<TTransVertSlide*>(p.CreateObject(bridge).get()));
    bridge.ID = "{71B4D000-6339-4E21-BD8F-E3045AF3A447}";
    EXPECT_TRUE(dynamic_cast<TTransDimmed*>(p.CreateObject(bridge).get()));
    bridge.ID = CreditTitle;
    EXPECT_TRUE(dynamic_cast<TCustomOverlay*>(p.CreateObject(bridge).get()));
    bridge.ID = "{4CF7E401-D89D-4E03-B5EC-AC56CDAFACE4}";
    EXPECT_TRUE(dynamic_cast<TCustomFilter*>(p.CreateObject(bridge).get()));
}
