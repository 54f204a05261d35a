#include "MySubProjectNode.h"

#include <algorithm>
#include <filesystem>
#include <new>

#include "ITreeItem.h"
#include "MyCommonServices.h"
#include "MyProjNode.h"
#include "MyRiffIO.h"
#include "MyValueStream.h"

namespace {

const char* const FileSignature = "Brenmo";
constexpr int32_t NewestFormatVersion = 2004002;

// A file being read into a sub-project: its name as given and its SameFileKey.
struct TOpenFile {
    std::string Name;
    std::string Key;
};

// The files being read into sub-projects right now, outermost first. Loading runs on the GUI
// thread only.
std::vector<TOpenFile>& OpenChain() {
    static std::vector<TOpenFile> chain;
    return chain;
}

// The last cycle met while loading: the file whose sub-project points back, and that sub-project's
// file.
struct TCycle {
    std::string Closer;
    std::string Target;
};
TCycle& LastCycle() {
    static TCycle cycle;
    return cycle;
}

// One spelling per file, so that "a/../b.mpr" and "b.mpr" are seen to be the same.
std::string SameFileKey(const std::string& name) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(name, ec);
    return ec ? name : p.string();
}

} // namespace

TSubProjectNode::TSubProjectNode(TCustomProjectNode* project, const std::string& caption,
                                 ITreeItem* item)
    : TCustomFolderNode(project, caption, item) {
    Kind = nkSubProject;
    SaveFileName = false;
}

void TSubProjectNode::WriteBefore(TValueWriter& writer) const {
    writer.WriteFileName(GetStoredFileName());
}

void TSubProjectNode::ReadBefore(TValueReader& reader) {
    if (!ReadingOwnFile)
        SetFileName(reader.ReadFileName());
}

void TSubProjectNode::SetFileName(const std::string& name) {
    TCustomFolderNode::SetFileName(name);
    DeleteChildren();
    if (name.empty() || !FileExists(name))
        return;

    // A file may not contain itself, neither directly nor through other sub-projects; the
    // project being opened counts as the outermost file.
    const std::string key = SameFileKey(name);
    std::vector<TOpenFile>& chain = OpenChain();
    const std::string outer = Project ? Project->FileName : std::string();
    const bool cycle =
        std::find_if(chain.begin(), chain.end(),
                     [&key](const TOpenFile& f) { return f.Key == key; }) != chain.end() ||
        (!outer.empty() && SameFileKey(outer) == key);
    if (cycle) {
        // Only this copy stays empty: the message names the file that points back.
        const std::string closer = chain.empty() ? outer : chain.back().Name;
        LastCycle() = {closer, name};
        LoadMessages.Add("Sub-project " + name + " in " + closer +
                         " would contain itself; that copy is left empty.");
        return;
    }
    if (int(chain.size()) >= MaxSubProjectDepth) {
        LoadMessages.Add("Sub-project " + name + " is nested too deeply and is left empty.");
        return;
    }

    // Only a regular file of a project's size is read: a FIFO would never end, a device or a
    // film picked by mistake would fill the memory.
    std::vector<uint8_t> bytes;
    const TReadFileResult read =
        ReadRegularFile(name, TCustomProjectNode::MaxProjectFileBytes, bytes);
    if (read == TReadFileResult::TooLarge) {
        LoadMessages.Add("Sub-project " + name + " is too large for a project and is left empty.");
        return;
    }
    if (read != TReadFileResult::Ok) {
        LoadMessages.Add("Can not read sub-project " + name + ".");
        return;
    }
    chain.push_back({name, key});
    auto pop = MakeScopeExit([&chain] { chain.pop_back(); });
    if (!LoadTree(name, bytes))
        DeleteChildren();
    Kind = nkSubProject;
}

bool TSubProjectNode::LoadTree(const std::string& name, const std::vector<uint8_t>& bytes) {
    TValueReader r(bytes.data(), bytes.size(), name);
    std::string signature;
    try {
        signature = r.ReadString();
    } catch (const Exception&) {
    }
    // The refusals read as the main loader's; the line after them names the file.
    auto refuse = [&name](const std::string& why) {
        LoadMessages.Add(why);
        LoadMessages.Add("Sub-project " + name + " is left empty.");
        return false;
    };
    // As in the main loader, a wrong signature is said and reading goes on: a project that only
    // lost its signature still opens, another kind of file fails soon after.
    const bool foreign = signature != FileSignature;
    if (foreign)
        LoadMessages.Add("File format is unknown");
    auto failed = [&name, foreign](const std::string& why) {
        LoadMessages.Add(foreign ? "Sub-project " + name + " is left empty."
                                 : "Can not read sub-project " + name + ": " + why);
        return false;
    };
    try {
        const int32_t version = r.ReadInteger();
        const std::string programVersion = r.ReadString();
        if (version > NewestFormatVersion)
            return refuse("You need to get the newer version of this program to read this "
                          "file. \nThe program version should be at least " +
                          programVersion);
        // The root record of the file: the stored kind is the project's, so its child tree comes
        // with it; the root's output settings behind the record are not read.
        ReadingOwnFile = true;
        auto reset = MakeScopeExit([this] { ReadingOwnFile = false; });
        ReadRecord(r, std::max(GetTreeLevel(), 0));
        // Marks in the file are times on its own time line, which starts with this node.
        SetPendingPegBase(this);
    } catch (const Exception& e) {
        return failed(ReadErrorText(e));
    } catch (const std::bad_alloc&) {
        return failed("out of memory");
    }
    return true;
}

std::string TSubProjectNode::FindCycle(const std::string& file, const std::string& projectFile) {
    if (file.empty() || projectFile.empty() || !FileExists(file))
        return {};
    // The file is read as it will be once added, into a project of its own that nobody sees.
    TMemTree tree;
    TProjectNode probe("Project", tree.AddRoot("Project"));
    probe.FileName = projectFile;
    const std::vector<std::string> kept = LoadMessages.Lines;
    auto restore = MakeScopeExit([&kept] { LoadMessages.Lines = kept; });
    LastCycle() = {};
    probe.AddNode("Sub-project", amLastChild, nkSubProject)->SetFileName(file);
    const TCycle found = LastCycle();
    LastCycle() = {};
    if (found.Target.empty() || SameFileKey(found.Target) != SameFileKey(projectFile))
        return {};
    return found.Closer;
}

std::string TSubProjectNode::SaveCycleText(TTreeNodeData* root, const std::string& fileName) {
    if (!root || fileName.empty())
        return {};
    const std::string key = SameFileKey(fileName);
    for (int i = 0; i < root->GetChildCount(); ++i) {
        TTreeNodeData* child = root->GetChild(i);
        auto* sub = dynamic_cast<TSubProjectNode*>(child);
        if (!sub) {
            if (std::string text = SaveCycleText(child, fileName); !text.empty())
                return text;
            continue;
        }
        // What lies below a sub-project comes from its file, which FindCycle reads afresh. A
        // missing file keeps its name, and the save would give that name a file.
        const std::string& file = sub->GetStoredFileName();
        if (file.empty())
            continue;
        if (SameFileKey(file) == key)
            return "Can not save the project as " + fileName +
                   ": it has that file as a sub-project!";
        const std::string closer = FindCycle(file, fileName);
        if (closer.empty())
            continue;
        std::string text = "Can not save the project as " + fileName + ": its sub-project " + file +
                           " contains that file";
        if (SameFileKey(closer) != SameFileKey(file))
            text += " (through " + closer + ")";
        return text + "!";
    }
    return {};
}
