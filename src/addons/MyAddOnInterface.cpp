#include "MyAddOnInterface.h"

#include "MyCustomAddOn.h"

std::unique_ptr<TCustomAddOn> TAddOnInterface::CreateObject(TAddOnBridge&) {
    return nullptr;
}
