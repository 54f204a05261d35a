// A provider of add-ons: the set of type identifiers it knows, their display names and types,
// and the creation of an add-on by identifier.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TAddOnBridge;
class TCustomAddOn;

// Type of an add-on; the effect node kinds 7, 5 and 6 hold types 1, 2 and 3.
enum TAddOnType : uint8_t { atNone = 0, atOverlay = 1, atFilter = 2, atTransition = 3 };

class TAddOnInterface {
public:
    TAddOnInterface() = default;
    virtual ~TAddOnInterface() = default;
    TAddOnInterface(const TAddOnInterface&) = delete;
    TAddOnInterface& operator=(const TAddOnInterface&) = delete;

    // Puts the identifiers this provider offers into the list.
    virtual bool GetObjectIDs(std::vector<std::string>& list) { return false; }
    virtual std::string GetObjectName(const std::string& id) { return {}; }
    virtual TAddOnType GetObjectType(const std::string& id) { return atNone; }
    // Creates the add-on named by the bridge's identifier.
    virtual std::unique_ptr<TCustomAddOn> CreateObject(TAddOnBridge& bridge);
};
