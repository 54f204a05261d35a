// The add-on manager of a project: the offered identifiers of every provider in one map, the
// list the add-object dialog shows, and the creation of the add-on an effect node asks for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MyAddOnInterface.h"

class TAddOnBridge;
class TCustomAddOn;

// One offered identifier and the provider that offers it.
class TAddOnInfo {
public:
    TAddOnInfo(TAddOnInterface* provider, std::string id) : ID(std::move(id)), Provider(provider) {}

    std::string ID;
    TAddOnInterface* Provider; // not owned

    std::string GetName() const { return Provider->GetObjectName(ID); }
    TAddOnType GetType() const { return Provider->GetObjectType(ID); }
};

// A line of the add-object dialog's list: display name and the entry behind it.
struct TAddOnListItem {
    std::string Name;
    const TAddOnInfo* Info = nullptr;
};

class TAddOnManager {
public:
    // Lists the "*.add" files of the program's folder (an empty folder name: the folder of the
    // running executable); none is ever loaded, only the built-in provider registers.
    explicit TAddOnManager(const std::string& programFolder = {});
    ~TAddOnManager();
    TAddOnManager(const TAddOnManager&) = delete;
    TAddOnManager& operator=(const TAddOnManager&) = delete;

    // Every map entry in map order, named by its display name.
    bool FillList(std::vector<TAddOnListItem>& strings) const;
    // The add-on of the bridge's identifier, named; null for an identifier not offered.
    std::unique_ptr<TCustomAddOn> CreateObject(TAddOnBridge& bridge) const;

    void RegisterStandardInterface();
    void RebuildIdMap();
    void ClearIdMap() { IDs.clear(); }

    // Names of the add-on library files found beside the program.
    const std::vector<std::string>& GetFileList() const { return FileList; }

private:
    // One entry per offered identifier, in provider order and then list order; duplicates
    // stay, the first one wins.
    std::vector<std::unique_ptr<TAddOnInfo>> IDs;
    std::vector<std::unique_ptr<TAddOnInterface>> Providers;
    std::vector<std::string> FileList;
};
