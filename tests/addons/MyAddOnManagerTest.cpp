// The add-on manager: the list the add-object dialog shows, creation of offered add-ons only,
// and the "*.add" listing that loads nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "MyAddOnManager.h"
#include "MyCustomAddOn.h"
#include "MyStandardAddOnInterface.h"
#include "TempFolders.h"
#include "TestData.h"

TEST(AddOnManager, FillListGivesTheOfferedNamesInOrder) {
    TAddOnManager m;
    std::vector<TAddOnListItem> list{{"stale", nullptr}};
    EXPECT_TRUE(m.FillList(list));
    // Each name followed by its type: 1 overlay, 2 filter, 3 transition.
    std::string names;
    for (const auto& item : list)
        names += item.Name + "|" + char('0' + item.Info->GetType()) + "\n";
    const std::vector<uint8_t> want = ReadTestData("addons/offered.txt");
    EXPECT_EQ(names, std::string(want.begin(), want.end()));
    EXPECT_EQ(list.front().Info->ID, "{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}");
}

TEST(AddOnManager, CreatesOnlyOfferedAddOnsAndNamesThem) {
    TAddOnManager m;
    TAddOnBridge bridge;
    bridge.ID = "{71B4D000-6339-4E21-BD8F-E3045AF3A447}";
    auto dim = m.CreateObject(bridge);
    ASSERT_TRUE(dim);
    EXPECT_EQ(dim->Name, "Dimming");
    // Known to the provider but not offered, lower case, empty: the manager has nothing for it.
    for (const char* id :
         {"{B6C646EF-84FC-4426-873F-1A9AB45BB088}", "{7602e471-a8ca-46b2-b869-8af956428110}", ""}) {
        bridge.ID = id;
        EXPECT_EQ(m.CreateObject(bridge), nullptr) << id;
    }
}

TEST(AddOnManager, ListsAddOnLibrariesWithoutLoadingThem) {
    TTempDir dir;
    const auto folder = std::filesystem::path(dir.Path);
    dir.File("b.add", "not a library");
    dir.File("a.add");
    dir.File("c.txt");
    std::filesystem::create_directory(folder / "d.add");
    TAddOnManager m(folder.string());
    EXPECT_EQ(m.GetFileList(), (std::vector<std::string>{"a.add", "b.add"}));
    std::vector<TAddOnListItem> list;
    m.FillList(list);
    EXPECT_EQ(list.size(), 22u);
    EXPECT_TRUE(TAddOnManager((folder / "nowhere").string()).GetFileList().empty());
}
