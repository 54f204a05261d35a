// The built-in provider: the offered list, names, types by substring, creation of every class
// it knows and the exact texts for identifiers it does not know.
#include <gtest/gtest.h>

#include <typeinfo>

#include "EffectRig.h"
#include "MyConvolve.h"
#include "MyCustomAddOn.h"
#include "MyFilters.h"
#include "MyOverlays.h"
#include "MyStandardAddOnInterface.h"
#include "MyTextOverlays.h"
#include "MyTransitions.h"

namespace {

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(no exception)";
}

} // namespace

TEST(StandardAddOns, NamesTypesByPartOfAnIdentifierAndExactErrorTexts) {
    // The offered names and their order are checked through the manager's list.
    TStandardAddOnInterface p;
    std::vector<std::string> ids{"stale"};
    EXPECT_FALSE(p.GetObjectIDs(ids));
    EXPECT_EQ(ids.size(), 22u);
    EXPECT_EQ(p.GetObjectName("{B6C646EF-84FC-4426-873F-1A9AB45BB088}"), "Credit title overlay");
    EXPECT_EQ(p.GetObjectName("{C4E3FBC0-F900-11D6-A6C2-0050DA5016A5}"), "Dissolve");
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
    // Identifiers are stored in project files: each must keep making the same effect.
    // Each row: identifier, class, curves it enables, whether a filter without a node snapshot
    // refuses and leaves the frame.
    struct Row {
        const char* Id;
        const std::type_info& Type;
        size_t Curves;
        bool Refuses;
    };
    const Row table[] = {
        {"{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}", typeid(TBitmapOverlay), 1, 0},
        {"{A47737BF-EE1F-493F-BC42-6FA330BBA65B}", typeid(TOpaqueBitmapOverlay), 1, 0},
        {"{A0B8F036-67F4-4B94-8DF9-0B4FA8FA6060}", typeid(TSimpleTextOverlay), 4, 0},
        {"{77D4093F-9B0C-405E-9647-4E27296E2D8E}", typeid(TOpaqueSimpleTextOverlay), 5, 0},
        {"{BA34B4A6-E1B9-4CAE-9BBE-8FA16B896B82}", typeid(TSubTitleOverlay), 4, 0},
        {"{F3C34695-8149-4D2C-AE86-DAA65EF943E9}", typeid(TMovieOverlay), 2, 0},
        {"{B6C646EF-84FC-4426-873F-1A9AB45BB088}", typeid(TCreditOverlay), 2, 0},
        {"{91DF5308-4A0E-451F-9135-6F292AA3C1E4}", typeid(TTransMovieOverlay), 3, 0},
        {"{32AB0414-C129-44C1-9750-F72D76C9E216}", typeid(TRoundMovieOverlay), 2, 0},
        {"{617981A1-CDF0-40F5-B055-0731130123D2}", typeid(TFocusOverlay), 2, 0},
        {"{57D08FE9-5EFD-403A-AD03-56BCA11652E5}", typeid(TRotateOverlay), 5, 0},
        {"{7602E471-A8CA-46B2-B869-8AF956428110}", typeid(TTransHorzSlide), 0, 0},
        {"{DAAF6E9E-0860-4386-B08C-47BB92CBE123}", typeid(TTransVertSlide), 0, 0},
        {"{71B4D000-6339-4E21-BD8F-E3045AF3A447}", typeid(TTransDimmed), 0, 0},
        {"{DB6B2B3F-5270-4B7F-B211-25447DAB71F1}", typeid(TTransEyesOpen), 0, 0},
        {"{C4E3FBC0-F900-11D6-A6C2-0050DA5016A5}", typeid(TTransDissolve), 0, 0},
        {"{D472437A-CE58-42FB-9316-1795B4EED7BA}", typeid(TBrightnessFilter), 1, 1},
        {"{F5B6A73E-29F9-440C-BFCA-13FF8B98601C}", typeid(TColorFilter), 2, 1},
        {"{1A795249-8860-41B0-928F-DEAD9EE9B8AB}", typeid(TPolyFilter), 1, 1},
        {"{D344FEA5-73EC-47E0-A569-B354805E0300}", typeid(TZoomFilter), 2, 1},
        {"{8ADD4797-A768-4D23-9D76-684FD592E98B}", typeid(TSepiaFilter), 2, 1},
        {"{A832BDD4-16AA-4E96-A95A-7E2088697146}", typeid(TMirrorFilter), 1, 1},
        {"{689F3C34-B74B-47DD-B32B-AE1CC8333C8A}", typeid(TSharpenFilter), 0, 1},
        {"{8A0494DB-2365-42DF-B0B1-50961DDD79D5}", typeid(TSoftenFilter), 0, 1},
        {"{B2BBB004-9D4B-4EDA-BC08-318BA5003786}", typeid(TEmbossFilter), 0, 1},
        {"{CFC5BE01-FB37-46F9-9A26-E4143B9D7818}", typeid(TBlurFilter), 0, 1},
        {"{84447B17-D437-4C2A-A038-87635361492F}", typeid(TEdgeFilter), 0, 1},
        {"{D2B8F191-EF1F-4F65-A746-63DA892CF414}", typeid(TLaplaceFilter), 0, 1},
        {"{18F99F8E-D305-4CE9-A2A5-FB2C7F19A6C1}", typeid(TEnchangeFilter), 0, 1},
        {"{2D9BC8A8-6E5D-4FB6-9DBC-9F009B6A3D3D}", typeid(TSketchFilter), 1, 1},
        {"{1C285050-BEEF-4AED-8697-A49A53A2D6A1}", typeid(TNegativeFilter), 0, 0},
        {"{1B1E6253-71E8-49C6-9EC8-A8586CB2ADF5}", typeid(TStepBackFilter), 0, 0},
        {"{4CF7E401-D89D-4E03-B5EC-AC56CDAFACE4}", typeid(TFreezeFilter), 0, 0}};
    TStandardAddOnInterface p;
    for (const Row& r : table) {
        SCOPED_TRACE(r.Id);
        effectrig::Rig rig;
        rig.HasInfo = false;
        rig.Bridge.ID = r.Id;
        auto a = p.CreateObject(rig.Bridge);
        ASSERT_TRUE(a);
        EXPECT_EQ(typeid(*a), r.Type);
        EXPECT_EQ(a->Bridge, &rig.Bridge);
        EXPECT_EQ(rig.Registered.size(), r.Curves);
        auto* filter = dynamic_cast<TCustomFilter*>(a.get());
        if (!r.Refuses || !filter)
            continue;
        const TBitmap in = effectrig::Noise(40, 30, 3);
        TBitmap frame = effectrig::Copy(in);
        filter->Bitmap = &frame;
        EXPECT_FALSE(filter->Run(0, 0));
        EXPECT_TRUE(effectrig::Same(frame, in));
    }
}
