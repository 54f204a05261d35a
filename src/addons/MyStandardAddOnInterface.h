// The built-in provider: every effect that comes with the program, known by its fixed
// identifier (stored in project files) and display name (which becomes the node's name).
#pragma once

#include "MyAddOnInterface.h"

class TStandardAddOnInterface : public TAddOnInterface {
public:
    // The offered identifiers, in the order the add-object dialog lists them.
    bool GetObjectIDs(std::vector<std::string>& list) override;
    std::string GetObjectName(const std::string& id) override;
    TAddOnType GetObjectType(const std::string& id) override;
    std::unique_ptr<TCustomAddOn> CreateObject(TAddOnBridge& bridge) override;
};

std::unique_ptr<TAddOnInterface> CreateStandardAddOnInterface();
