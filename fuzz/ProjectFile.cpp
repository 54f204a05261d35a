// Project file reader: any input either loads or fails with an error, leaving no tree behind.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MyProjNode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemTree tree;
    TProjectNode root("Project", tree.AddRoot("Project"));
    std::vector<uint8_t> bytes(data, data + size);
    try {
        if (root.LoadFromStream(bytes)) {
            root.ResetLinks();
            root.Calculate();
            root.Layout(0);
            root.ResolvePendingPegs();
            std::vector<uint8_t> again;
            root.SaveToStream(again);
        }
    } catch (const Exception&) {
    }
    return 0;
}
