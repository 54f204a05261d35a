// Sub-projects: the tree read from another project file, what the containing file stores, and
// files that are missing, damaged, newer or that contain themselves.
#include "MySubProjectNode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "FakeUiServices.h"
#include "MyCommonServices.h"
#include "MyProjNode.h"
#include "MyValueStream.h"
#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

struct TProjectFiles {
    TTempDir Dir;
    TMemTree Tree;
    TFakeUiServices Ui;
    std::unique_ptr<TProjectNode> Root;

    TProjectFiles() { LoadMessages.Clear(); }
    ~TProjectFiles() { LoadMessages.Clear(); }

    std::string Path(const std::string& name) const { return Dir.Path + "/" + name; }

    // A fresh root (the previous one is dropped).
    TProjectNode& NewRoot() {
        Root.reset();
        Root = std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"));
        Root->Ui = &Ui;
        return *Root;
    }

    // Writes a project holding a group named caption, and sub-projects of the named files.
    // A cyclic file, which the program refuses to save, is saved aside and moved into place.
    void WriteProject(const std::string& name, const std::string& caption,
                      const std::vector<std::string>& subFiles = {}, bool cyclic = false) {
        TProjectNode& r = NewRoot();
        r.AddNode(caption, amLastChild, nkGroup)->AddNode("Black", amLastChild, nkBlank);
        for (const std::string& f : subFiles)
            r.AddNode("Sub", amLastChild, nkSubProject)->SetFileName(Path(f));
        const std::string target = Path(name) + (cyclic ? ".aside" : "");
        ASSERT_TRUE(r.SaveToFile(target));
        if (cyclic)
            std::filesystem::rename(target, Path(name));
    }

    // Opens a project file in a fresh root.
    bool Open(const std::string& name) { return NewRoot().LoadFromFile(Path(name)); }

    TSubProjectNode* Sub(TTreeNodeData* parent, int index) {
        return dynamic_cast<TSubProjectNode*>(parent->GetChild(index));
    }
};

bool Contains(const std::vector<uint8_t>& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

} // namespace

TEST(SubProject, SavesOnlyItsFileNameAndItsRecord) {
    TProjectFiles p;
    p.WriteProject("inner.mpr", "Inner group");
    TProjectNode& r = p.NewRoot();
    TTreeNodeData* sub = r.AddNode("Sub", amLastChild, nkSubProject);
    sub->SetFileName(p.Path("inner.mpr"));
    ASSERT_EQ(sub->GetChildCount(), 2); // the inner file's video track and group
    EXPECT_EQ(sub->GetChild(1)->GetCaption(), "Inner group");
    EXPECT_TRUE(sub->GetChild(1)->GetChild(0)->GetSealed());
    EXPECT_EQ(sub->Kind, nkSubProject);

    std::vector<uint8_t> record;
    TValueWriter w(record);
    sub->SaveToWriter(w);
    // The file name, then the node's own record with no child count in it.
    std::vector<uint8_t> head;
    TValueWriter h(head);
    h.WriteString(p.Path("inner.mpr"));
    h.WriteChar(char(nkSubProject));
    h.WriteString(sub->Id);
    ASSERT_GE(record.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), record.begin()));
    EXPECT_FALSE(Contains(record, "Inner group"));
    EXPECT_FALSE(Contains(record, "Black"));

    // The stored record reads back into a node with the file's current tree.
    TValueReader reader(record.data(), record.size());
    TTreeNodeData* copy = r.AddNode("Copy", amLastChild, nkSubProject);
    copy->LoadFromReader(reader);
    EXPECT_EQ(reader.GetRemaining(), 0u);
    EXPECT_EQ(copy->Id, sub->Id);
    EXPECT_EQ(copy->GetChildCount(), 2);
    EXPECT_EQ(copy->Kind, nkSubProject);
}

TEST(SubProject, ChangesToTheFileShowAfterReload) {
    TProjectFiles p;
    p.WriteProject("inner.mpr", "First");
    {
        TProjectNode& r = p.NewRoot();
        r.AddNode("Sub", amLastChild, nkSubProject)->SetFileName(p.Path("inner.mpr"));
        r.GetChild(1)->Offset = 2.5L;
        ASSERT_TRUE(r.SaveToFile(p.Path("outer.mpr")));
    }
    p.WriteProject("inner.mpr", "Second");
    ASSERT_TRUE(p.Open("outer.mpr"));
    TSubProjectNode* sub = p.Sub(p.Root.get(), 1);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->Offset, 2.5L); // the node's own record wins over the file's root
    ASSERT_EQ(sub->GetChildCount(), 2);
    EXPECT_EQ(sub->GetChild(1)->GetCaption(), "Second");
}

TEST(SubProject, FileThatContainsItselfIsRefused) {
    TProjectFiles p;
    // a.mpr holds b.mpr, which holds a.mpr again.
    p.WriteProject("a.mpr", "A", {"b.mpr"});
    p.WriteProject("b.mpr", "B", {"a.mpr"}, true);
    LoadMessages.Clear();
    ASSERT_TRUE(p.Open("a.mpr"));
    TSubProjectNode* b = p.Sub(p.Root.get(), 2);
    ASSERT_TRUE(b);
    ASSERT_EQ(b->GetChildCount(), 3);
    EXPECT_EQ(b->GetChild(1)->GetCaption(), "B");
    TSubProjectNode* aAgain = p.Sub(b, 2);
    ASSERT_TRUE(aAgain);
    EXPECT_EQ(aAgain->GetChildCount(), 0);
    ASSERT_EQ(LoadMessages.Count(), 1);
    // The file that points back is named: only its copy of a.mpr stays empty.
    EXPECT_EQ(LoadMessages.Lines[0], "Sub-project " + p.Path("a.mpr") + " in " + p.Path("b.mpr") +
                                         " would contain itself; that copy is left empty.");

    // Directly, and through another spelling of the same name.
    p.WriteProject("self.mpr", "Self", {"./self.mpr"}, true);
    LoadMessages.Clear();
    ASSERT_TRUE(p.Open("self.mpr"));
    ASSERT_TRUE(p.Sub(p.Root.get(), 2));
    EXPECT_EQ(p.Sub(p.Root.get(), 2)->GetChildCount(), 0);
    EXPECT_EQ(LoadMessages.Count(), 1);
}

TEST(SubProject, DeepNestingIsCapped) {
    TProjectFiles p;
    const int files = TSubProjectNode::MaxSubProjectDepth + 3;
    p.WriteProject(NumberedName("n", files - 1, ".mpr"), "Last");
    for (int i = files - 2; i >= 0; --i)
        p.WriteProject(NumberedName("n", i, ".mpr"), "Level", {NumberedName("n", i + 1, ".mpr")});
    LoadMessages.Clear();
    ASSERT_TRUE(p.Open("n0.mpr"));
    int depth = 0;
    for (TTreeNodeData* n = p.Root.get(); n->GetChildCount() == 3; n = n->GetChild(2))
        ++depth;
    // The opened file and the sub-projects below it.
    EXPECT_EQ(depth, TSubProjectNode::MaxSubProjectDepth + 1);
    ASSERT_EQ(LoadMessages.Count(), 1);
    EXPECT_NE(LoadMessages.Lines[0].find("nested too deeply"), std::string::npos);
}

TEST(SubProject, MissingDamagedForeignAndNewerFilesLeaveItEmpty) {
    TProjectFiles p;
    p.WriteProject("good.mpr", "Good");
    std::vector<uint8_t> good = ReadBytesFile(p.Path("good.mpr"));
    // Cut inside the root record.
    WriteBytesFile(p.Path("cut.mpr"), std::vector<uint8_t>(good.begin(), good.begin() + 60));
    WriteBytesFile(p.Path("text.mpr"), std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    std::vector<uint8_t> newer;
    TValueWriter w(newer);
    w.WriteString("Brenmo");
    w.WriteInteger(2004003);
    w.WriteString("9.9");
    WriteBytesFile(p.Path("newer.mpr"), newer);
    p.WriteProject("outer.mpr", "Outer",
                   {"gone.mpr", "cut.mpr", "text.mpr", "newer.mpr", "good.mpr"});

    LoadMessages.Clear();
    ASSERT_TRUE(p.Open("outer.mpr"));
    for (int i = 2; i <= 5; ++i) {
        ASSERT_TRUE(p.Sub(p.Root.get(), i));
        EXPECT_EQ(p.Sub(p.Root.get(), i)->GetChildCount(), 0) << i;
    }
    EXPECT_EQ(p.Sub(p.Root.get(), 6)->GetChildCount(), 2);
    const auto& m = LoadMessages.Lines;
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0], "Can not locate " + p.Path("gone.mpr") + ".");
    EXPECT_EQ(m[1].rfind("Can not read sub-project " + p.Path("cut.mpr") + ": ", 0), 0u);
    // The refusals in the main loader's words, each followed by the file it was about.
    EXPECT_EQ(m[2], "File format is unknown");
    EXPECT_EQ(m[3], "Sub-project " + p.Path("text.mpr") + " is left empty.");
    EXPECT_EQ(m[4], "You need to get the newer version of this program to read this file. "
                    "\nThe program version should be at least 9.9");
    EXPECT_EQ(m[5], "Sub-project " + p.Path("newer.mpr") + " is left empty.");
    // The missing file's name is kept for the next save.
    EXPECT_EQ(p.Sub(p.Root.get(), 2)->GetStoredFileName(), p.Path("gone.mpr"));
}

// As when a project is opened, a wrong signature is said and reading goes on: a project that only
// lost its signature opens as a sub-project; one whose tree then fails to read is left empty and
// named, with none of what was read before the fault.
TEST(SubProject, WrongSignatureIsSaidAndReadingGoesOn) {
    TProjectFiles p;
    p.WriteProject("good.mpr", "Good");
    std::vector<uint8_t> bytes = ReadBytesFile(p.Path("good.mpr"));
    ASSERT_EQ(bytes[2], 'B');
    bytes[2] = 'b';
    WriteBytesFile(p.Path("unsigned.mpr"), bytes);
    bytes.resize(bytes.size() / 2);
    WriteBytesFile(p.Path("cut.mpr"), bytes);
    p.WriteProject("outer.mpr", "Outer", {"unsigned.mpr", "cut.mpr"});

    LoadMessages.Clear();
    ASSERT_TRUE(p.Open("outer.mpr"));
    TSubProjectNode* sub = p.Sub(p.Root.get(), 2);
    ASSERT_EQ(sub->GetChildCount(), 2);
    EXPECT_EQ(sub->GetChild(1)->GetCaption(), "Good");
    EXPECT_EQ(sub->Kind, nkSubProject);
    EXPECT_EQ(p.Sub(p.Root.get(), 3)->GetChildCount(), 0);
    EXPECT_EQ(LoadMessages.Lines,
              (std::vector<std::string>{"File format is unknown", "File format is unknown",
                                        "Sub-project " + p.Path("cut.mpr") + " is left empty."}));
}

// Adding a file that holds the open project, directly or through another file, is a cycle; a
// file that merely holds itself, or an unsaved project, is none. The probe leaves the load
// messages as it found them.
TEST(SubProject, FindCycleNamesTheFileThatPointsBack) {
    TProjectFiles p;
    p.WriteProject("top.mpr", "Top");
    p.WriteProject("mid.mpr", "Mid", {"top.mpr"});
    p.WriteProject("outer.mpr", "Outer", {"mid.mpr"});
    p.WriteProject("plain.mpr", "Plain");
    p.WriteProject("self.mpr", "Self", {"self.mpr"}, true);
    LoadMessages.Clear();
    LoadMessages.Add("earlier");
    const std::string top = p.Path("top.mpr");
    EXPECT_EQ(TSubProjectNode::FindCycle(p.Path("mid.mpr"), top), p.Path("mid.mpr"));
    EXPECT_EQ(TSubProjectNode::FindCycle(p.Path("outer.mpr"), top), p.Path("mid.mpr"));
    EXPECT_EQ(TSubProjectNode::FindCycle(p.Dir.Path + "/./top.mpr", top), top);
    EXPECT_EQ(TSubProjectNode::FindCycle(p.Path("plain.mpr"), top), "");
    EXPECT_EQ(TSubProjectNode::FindCycle(p.Path("self.mpr"), top), "");
    EXPECT_EQ(TSubProjectNode::FindCycle(p.Path("mid.mpr"), ""), "");
    EXPECT_EQ(TSubProjectNode::FindCycle(p.Path("none.mpr"), top), "");
    EXPECT_EQ(LoadMessages.Lines, std::vector<std::string>{"earlier"});
}

// Saving under a name that a sub-project leads back to, directly, through its own file or
// deeper, is refused with the file named and nothing written; the project keeps its name
// (none). Another name saves as before.
TEST(SubProject, SaveRefusesANameItsSubProjectsLeadBackTo) {
    TProjectFiles p;
    p.WriteProject("top.mpr", "Top");
    p.WriteProject("mid.mpr", "Mid", {"top.mpr"});
    p.WriteProject("outer.mpr", "Outer", {"mid.mpr"});
    const std::string top = p.Path("top.mpr"), mid = p.Path("mid.mpr");
    const std::vector<uint8_t> before = ReadBytesFile(top);
    const std::string head = "Can not save the project as " + top + ": ";
    const std::pair<const char*, std::string> cases[] = {
        {"top.mpr", head + "it has that file as a sub-project!"},
        {"mid.mpr", head + "its sub-project " + mid + " contains that file!"},
        {"outer.mpr", head + "its sub-project " + p.Path("outer.mpr") +
                          " contains that file (through " + mid + ")!"}};
    for (const auto& [sub, text] : cases) {
        TProjectNode& r = p.NewRoot();
        // Inside a group, as the user may have put it.
        TTreeNodeData* group = r.AddNode("Group", amLastChild, nkGroup);
        group->AddNode("Sub", amLastChild, nkSubProject)->SetFileName(p.Path(sub));
        p.Ui.Messages.clear();
        EXPECT_FALSE(r.SaveToFile(top)) << sub;
        EXPECT_EQ(p.Ui.Messages, std::vector<std::string>{text});
        EXPECT_EQ(r.FileName, "");
        EXPECT_EQ(ReadBytesFile(top), before);
        EXPECT_TRUE(r.SaveToFile(p.Path("other.mpr"))) << sub;
    }
    // A sub-project whose file is still missing would be given one by the save.
    TProjectNode& r = p.NewRoot();
    r.AddNode("Sub", amLastChild, nkSubProject)->SetFileName(p.Path("new.mpr"));
    EXPECT_FALSE(r.SaveToFile(p.Dir.Path + "/./new.mpr"));
    EXPECT_FALSE(std::filesystem::exists(p.Path("new.mpr")));
}
