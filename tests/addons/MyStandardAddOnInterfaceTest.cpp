// The built-in provider: the offered list, names, types by substring, creation and the exact
// texts for identifiers it does not know.
#include <gtest/gtest.h>

#include <typeinfo>

#include "EffectRig.h"
#include "MyCommonParams.h"
#include "MyCustomAddOn.h"
#include "MyFilters.h"
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

TEST(StandardAddOns, OffersTwentyTwoAndKnowsElevenMore) {
    // The offered names and their order are checked through the manager's list.
    TStandardAddOnInterface p;
    std::vector<std::string> ids{"stale"};
    EXPECT_FALSE(p.GetObjectIDs(ids));
    ASSERT_EQ(ids.size(), 22u);
    EXPECT_EQ(ids.front(), "{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}");
    EXPECT_EQ(ids[8], "{71B4D000-6339-4E21-BD8F-E3045AF3A447}");
    EXPECT_EQ(ids.back(), "{4CF7E401-D89D-4E03-B5EC-AC56CDAFACE4}");
    EXPECT_EQ(p.GetObjectName(CreditTitle), "Credit title overlay");
    EXPECT_EQ(p.GetObjectName(Dissolve), "Dissolve");
    EXPECT_EQ(p.GetObjectType(Dissolve), atTransition);
}

TEST(StandardAddOns, TypeByPartOfAnIdentifierAndExactErrorTexts) {
    TStandardAddOnInterface p;
    EXPECT_EQ(p.GetObjectType("{17C85AB5"), atOverlay);
    EXPECT_EQ(p.GetObjectType("8AF956428110}"), atTransition);
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

TEST(StandardAddOns, CreatesEachTransition) {
    TStandardAddOnInterface p;
    TAddOnBridge bridge;
    const std::pair<const char*, const std::type_info*> table[] = {
        {"{7602E471-A8CA-46B2-B869-8AF956428110}", &typeid(TTransHorzSlide)},
        {"{DAAF6E9E-0860-4386-B08C-47BB92CBE123}", &typeid(TTransVertSlide)},
        {"{71B4D000-6339-4E21-BD8F-E3045AF3A447}", &typeid(TTransDimmed)},
        {"{DB6B2B3F-5270-4B7F-B211-25447DAB71F1}", &typeid(TTransEyesOpen)},
        {Dissolve, &typeid(TTransDissolve)}};
    for (auto [id, type] : table) {
        bridge.ID = id;
        auto t = p.CreateObject(bridge);
        ASSERT_TRUE(t);
        EXPECT_EQ(typeid(*t), *type) << id;
        EXPECT_EQ(t->Bridge, &bridge);
    }
}

TEST(StandardAddOns, BuiltEffectsChangeAFrame) {
    // Each built filter and overlay, created through the provider, on a noise frame with a
    // snapshot that asks every one of them for a visible change.
    const std::vector<std::string> ids = {
        "{A0B8F036-67F4-4B94-8DF9-0B4FA8FA6060}", "{77D4093F-9B0C-405E-9647-4E27296E2D8E}",
        "{BA34B4A6-E1B9-4CAE-9BBE-8FA16B896B82}", "{D472437A-CE58-42FB-9316-1795B4EED7BA}",
        "{F5B6A73E-29F9-440C-BFCA-13FF8B98601C}", "{1A795249-8860-41B0-928F-DEAD9EE9B8AB}",
        "{D344FEA5-73EC-47E0-A569-B354805E0300}", "{8ADD4797-A768-4D23-9D76-684FD592E98B}",
        "{A832BDD4-16AA-4E96-A95A-7E2088697146}", "{689F3C34-B74B-47DD-B32B-AE1CC8333C8A}",
        "{8A0494DB-2365-42DF-B0B1-50961DDD79D5}", "{B2BBB004-9D4B-4EDA-BC08-318BA5003786}",
        "{CFC5BE01-FB37-46F9-9A26-E4143B9D7818}", "{84447B17-D437-4C2A-A038-87635361492F}",
        "{D2B8F191-EF1F-4F65-A746-63DA892CF414}", "{18F99F8E-D305-4CE9-A2A5-FB2C7F19A6C1}",
        "{2D9BC8A8-6E5D-4FB6-9DBC-9F009B6A3D3D}", "{1C285050-BEEF-4AED-8697-A49A53A2D6A1}",
        "{1B1E6253-71E8-49C6-9EC8-A8586CB2ADF5}", "{4CF7E401-D89D-4E03-B5EC-AC56CDAFACE4}"};
    TStandardAddOnInterface p;
    std::vector<std::string> lines{"Text"};
    TFontInfo font;
    font.Color = 0xFFFFFF;
    for (const std::string& id : ids) {
        SCOPED_TRACE(p.GetObjectName(id));
        effectrig::Rig rig;
        rig.Info.Level = 0.5L;
        rig.Info.Color = 0x00FF00;
        rig.Info.Lines = &lines;
        rig.Info.Font = &font;
        rig.Bridge.ID = id;
        std::unique_ptr<TCustomAddOn> addOn = p.CreateObject(rig.Bridge);
        const TBitmap in = effectrig::Noise(64, 48, 1);
        TBitmap frame = effectrig::Copy(in);
        addOn->Bitmap = &frame;
        addOn->SetFrameCount(2);
        const bool freeze = dynamic_cast<TFreezeFilter*>(addOn.get()) != nullptr;
        if (auto* f = dynamic_cast<TCustomFilter*>(addOn.get())) {
            EXPECT_TRUE(f->Run(0, 0));
            if (freeze) {
                frame = effectrig::Noise(64, 48, 2);
                EXPECT_TRUE(f->Run(1, 1));
            }
        } else {
            auto* o = dynamic_cast<TCustomOverlay*>(addOn.get());
            ASSERT_TRUE(o);
            EXPECT_TRUE(o->Run(0, 0, 0, 25));
        }
        // The freeze filter shows the first frame over the second one.
        EXPECT_EQ(effectrig::Same(frame, in), freeze);
    }
}
