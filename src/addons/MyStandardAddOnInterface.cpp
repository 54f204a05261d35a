#include "MyStandardAddOnInterface.h"

#include "MyConvolve.h"
#include "MyExceptions.h"
#include "MyFilters.h"
#include "MyOverlays.h"
#include "MyTextOverlays.h"
#include "MyTransitions.h"

namespace {

using TAddOnFactory = std::unique_ptr<TCustomAddOn> (*)(TAddOnBridge&);

template <class T> std::unique_ptr<TCustomAddOn> Make(TAddOnBridge& bridge) {
    return std::make_unique<T>(bridge);
}

struct TStandardAddOn {
    const char* Id;
    const char* Name;
    TAddOnType Type;
    int Listed; // place in the offered list, 1-based; 0: known but not offered
    TAddOnFactory Create;
};

// Identifiers and names are stored in project files and shown to the user: never change them.
const TStandardAddOn StandardAddOns[] = {
    {"{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}", "Bitmap overlay", atOverlay, 1,
     Make<TBitmapOverlay>},
    {"{A47737BF-EE1F-493F-BC42-6FA330BBA65B}", "Transparent Bitmap overlay", atOverlay, 2,
     Make<TOpaqueBitmapOverlay>},
    {"{A0B8F036-67F4-4B94-8DF9-0B4FA8FA6060}", "Text overlay", atOverlay, 3,
     Make<TSimpleTextOverlay>},
    {"{77D4093F-9B0C-405E-9647-4E27296E2D8E}", "Opaque Text overlay", atOverlay, 4,
     Make<TOpaqueSimpleTextOverlay>},
    {"{BA34B4A6-E1B9-4CAE-9BBE-8FA16B896B82}", "SubTitle overlay", atOverlay, 5,
     Make<TSubTitleOverlay>},
    {"{F3C34695-8149-4D2C-AE86-DAA65EF943E9}", "Movie overlay", atOverlay, 6, Make<TMovieOverlay>},
    {"{B6C646EF-84FC-4426-873F-1A9AB45BB088}", "Credit title overlay", atOverlay, 0,
     Make<TCreditOverlay>},
    {"{91DF5308-4A0E-451F-9135-6F292AA3C1E4}", "Opaque movie overlay", atOverlay, 0,
     Make<TTransMovieOverlay>},
    {"{32AB0414-C129-44C1-9750-F72D76C9E216}", "Round movie overlay", atOverlay, 0,
     Make<TRoundMovieOverlay>},
    {"{617981A1-CDF0-40F5-B055-0731130123D2}", "Focus frame bitmap overlay", atOverlay, 0,
     Make<TFocusOverlay>},
    {"{57D08FE9-5EFD-403A-AD03-56BCA11652E5}", "Rotating opaque overlay", atOverlay, 0,
     Make<TRotateOverlay>},
    {"{7602E471-A8CA-46B2-B869-8AF956428110}", "Horizontal slide", atTransition, 7,
     Make<TTransHorzSlide>},
    {"{DAAF6E9E-0860-4386-B08C-47BB92CBE123}", "Vertical slide", atTransition, 8,
     Make<TTransVertSlide>},
    {"{71B4D000-6339-4E21-BD8F-E3045AF3A447}", "Dimming", atTransition, 9, Make<TTransDimmed>},
    {"{DB6B2B3F-5270-4B7F-B211-25447DAB71F1}", "Opening eyes", atTransition, 0,
     Make<TTransEyesOpen>},
    {"{C4E3FBC0-F900-11D6-A6C2-0050DA5016A5}", "Dissolve", atTransition, 0, Make<TTransDissolve>},
    {"{D472437A-CE58-42FB-9316-1795B4EED7BA}", "Brightness filter", atFilter, 10,
     Make<TBrightnessFilter>},
    {"{F5B6A73E-29F9-440C-BFCA-13FF8B98601C}", "Light temperature adjustment", atFilter, 11,
     Make<TColorFilter>},
    {"{1A795249-8860-41B0-928F-DEAD9EE9B8AB}", "TV shop filter", atFilter, 0, Make<TPolyFilter>},
    {"{D344FEA5-73EC-47E0-A569-B354805E0300}", "Zoom filter", atFilter, 0, Make<TZoomFilter>},
    {"{8ADD4797-A768-4D23-9D76-684FD592E98B}", "Sepia filter", atFilter, 0, Make<TSepiaFilter>},
    {"{A832BDD4-16AA-4E96-A95A-7E2088697146}", "Mirror filter", atFilter, 0, Make<TMirrorFilter>},
    {"{689F3C34-B74B-47DD-B32B-AE1CC8333C8A}", "Sharpen filter", atFilter, 12,
     Make<TSharpenFilter>},
    {"{8A0494DB-2365-42DF-B0B1-50961DDD79D5}", "Soften filter", atFilter, 13, Make<TSoftenFilter>},
    {"{B2BBB004-9D4B-4EDA-BC08-318BA5003786}", "Emboss filter", atFilter, 14, Make<TEmbossFilter>},
    {"{CFC5BE01-FB37-46F9-9A26-E4143B9D7818}", "Blur filter", atFilter, 15, Make<TBlurFilter>},
    {"{84447B17-D437-4C2A-A038-87635361492F}", "Edge filter", atFilter, 16, Make<TEdgeFilter>},
    {"{D2B8F191-EF1F-4F65-A746-63DA892CF414}", "Laplace filter", atFilter, 17,
     Make<TLaplaceFilter>},
    {"{18F99F8E-D305-4CE9-A2A5-FB2C7F19A6C1}", "Enchange filter", atFilter, 18,
     Make<TEnchangeFilter>},
    {"{2D9BC8A8-6E5D-4FB6-9DBC-9F009B6A3D3D}", "Sketch filter", atFilter, 19, Make<TSketchFilter>},
    {"{1C285050-BEEF-4AED-8697-A49A53A2D6A1}", "Negative filter", atFilter, 20,
     Make<TNegativeFilter>},
    {"{1B1E6253-71E8-49C6-9EC8-A8586CB2ADF5}", "Stepback filter", atFilter, 21,
     Make<TStepBackFilter>},
    {"{4CF7E401-D89D-4E03-B5EC-AC56CDAFACE4}", "Freeze filter", atFilter, 22, Make<TFreezeFilter>},
};

const TStandardAddOn* Find(const std::string& id) {
    for (const TStandardAddOn& a : StandardAddOns)
        if (id == a.Id)
            return &a;
    return nullptr;
}

[[noreturn]] void UnknownId(const std::string& id) {
    throw Exception("GetObjectName: ID unknown" + id);
}

} // namespace

bool TStandardAddOnInterface::GetObjectIDs(std::vector<std::string>& list) {
    list.clear();
    for (int place = 1;; ++place) {
        const TStandardAddOn* found = nullptr;
        for (const TStandardAddOn& a : StandardAddOns)
            if (a.Listed == place)
                found = &a;
        if (!found)
            break;
        list.emplace_back(found->Id);
    }
    return false;
}

std::string TStandardAddOnInterface::GetObjectName(const std::string& id) {
    if (const TStandardAddOn* a = Find(id))
        return a->Name;
    UnknownId(id);
}

TAddOnType TStandardAddOnInterface::GetObjectType(const std::string& id) {
    // The type is found by searching the identifiers of each type run together, so a part of
    // an identifier finds its type as well.
    if (!id.empty()) {
        for (TAddOnType type : {atOverlay, atTransition, atFilter}) {
            std::string group;
            for (const TStandardAddOn& a : StandardAddOns)
                if (a.Type == type)
                    group += a.Id;
            if (group.find(id) != std::string::npos)
                return type;
        }
    }
    UnknownId(id);
}

std::unique_ptr<TCustomAddOn> TStandardAddOnInterface::CreateObject(TAddOnBridge& bridge) {
    if (const TStandardAddOn* a = Find(bridge.ID))
        return a->Create(bridge);
    throw Exception("CreateObject: Index unknown" + bridge.ID);
}

std::unique_ptr<TAddOnInterface> CreateStandardAddOnInterface() {
    return std::make_unique<TStandardAddOnInterface>();
}
