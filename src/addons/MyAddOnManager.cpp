#include "MyAddOnManager.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "MyCustomAddOn.h"
#include "MyStandardAddOnInterface.h"

namespace fs = std::filesystem;

namespace {

std::string ExecutableFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

// File names matching "*.add" in a folder, sorted; nothing when the folder can not be read.
std::vector<std::string> ListAddOnFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (folder.empty())
        return names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        std::error_code fileEc;
        if (p.extension() == ".add" && it->is_regular_file(fileEc))
            names.push_back(p.filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TAddOnManager::TAddOnManager(const std::string& programFolder) {
    FileList = ListAddOnFiles(programFolder.empty() ? ExecutableFolder() : programFolder);
    RegisterStandardInterface();
    RebuildIdMap();
}

TAddOnManager::~TAddOnManager() {
    // The map refers to the providers, so it goes first; providers go last to first.
    ClearIdMap();
    while (!Providers.empty())
        Providers.pop_back();
}

void TAddOnManager::RegisterStandardInterface() {
    Providers.push_back(CreateStandardAddOnInterface());
}

void TAddOnManager::RebuildIdMap() {
    ClearIdMap();
    std::vector<std::string> scratch;
    for (const auto& provider : Providers) {
        scratch.clear();
        provider->GetObjectIDs(scratch);
        for (const std::string& id : scratch)
            IDs.push_back(std::make_unique<TAddOnInfo>(provider.get(), id));
    }
}

bool TAddOnManager::FillList(std::vector<TAddOnListItem>& strings) const {
    strings.clear();
    for (const auto& info : IDs)
        strings.push_back({info->GetName(), info.get()});
    return true;
}

std::unique_ptr<TCustomAddOn> TAddOnManager::CreateObject(TAddOnBridge& bridge) const {
    for (const auto& info : IDs) {
        if (info->ID != bridge.ID)
            continue;
        std::unique_ptr<TCustomAddOn> addOn = info->Provider->CreateObject(bridge);
        if (addOn)
            addOn->Name = info->Provider->GetObjectName(bridge.ID);
        return addOn;
    }
    return nullptr;
}
