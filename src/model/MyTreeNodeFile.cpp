// Node records of the project file: the common part every node writes, with its children,
// curves and pegs, and the parts the node classes add before and after it.
#include <cmath>

#include "MyProjNode.h"
#include "MyTreeNode.h"
#include "MyValueStream.h"

Extended ReadFiniteFloat(TValueReader& reader) {
    const size_t at = reader.GetPosition();
    Extended v = reader.ReadFloat();
    if (!std::isfinite(v))
        reader.Fail("Invalid property value", at);
    return v;
}

int32_t ReadCount(TValueReader& reader) {
    const size_t at = reader.GetPosition();
    int32_t n = reader.ReadInteger();
    if (n < 0 || static_cast<size_t>(n) > reader.GetRemaining())
        reader.Fail("Invalid item count", at);
    return n;
}

void TTreeNodeData::SaveToWriter(TValueWriter& w) const {
    WriteBefore(w);
    w.WriteChar(static_cast<char>(Kind));
    w.WriteString(Id);
    w.WriteFloat(Offset);
    w.WriteBoolean(AutoDuration);
    w.WriteFloat(UserDuration);
    w.WriteBoolean(Enabled);
    w.WriteBoolean(PositionLocked);
    w.WriteBoolean(Sealed);
    w.WriteInteger(static_cast<int32_t>(Description.size()));
    for (const auto& line : Description)
        w.WriteString(line);
    if (StoresChildren()) {
        w.WriteInteger(GetChildCount());
        for (int i = 0; i < GetChildCount(); ++i) {
            const TTreeNodeData* c = GetChild(i);
            w.WriteChar(static_cast<char>(c->Kind));
            w.WriteString(c->GetCaption());
            c->SaveToWriter(w);
        }
    }
    Curves->SaveToWriter(w);
    w.WriteInteger(static_cast<int32_t>(Color));
    Pegs->SaveToWriter(w);
    if (SaveFileName)
        w.WriteString(GetStoredFileName());
    WriteAfter(w);
}

void TTreeNodeData::ReadRecord(TValueReader& r, int depth) {
    if (depth > MaxNodeDepth)
        r.Fail("Project nesting too deep", r.GetPosition());
    ReadBefore(r);
    const size_t kindAt = r.GetPosition();
    const uint8_t stored = static_cast<uint8_t>(r.ReadChar());
    // The class made by the factory decides the kind; the stored one must agree with it, except
    // that a sub-project reads the root record of its own file.
    if (stored != Kind && !(Kind == nkSubProject && stored == nkProject))
        r.Fail("Node kind does not match its record", kindAt);
    Id = r.ReadString();
    Offset = ReadFiniteFloat(r);
    AutoDuration = r.ReadBoolean();
    UserDuration = ReadFiniteFloat(r);
    Enabled = r.ReadBoolean();
    PositionLocked = r.ReadBoolean();
    Sealed = r.ReadBoolean();
    Description.clear();
    for (int32_t n = ReadCount(r); n > 0; --n)
        Description.push_back(r.ReadString());
    if (stored != nkSubProject) {
        for (int32_t n = ReadCount(r); n > 0; --n) {
            const uint8_t kind = static_cast<uint8_t>(r.ReadChar());
            const std::string caption = r.ReadString();
            TTreeNodeData* child = AddNode(caption, amLastChild, kind);
            child->ReadRecord(r, depth + 1);
        }
    }
    Curves->LoadFromReader(r);
    Color = static_cast<uint32_t>(r.ReadInteger());
    Pegs->LoadFromReader(r);
    if (SaveFileName)
        SetFileName(r.ReadString());
    ReadAfter(r);
}

// ---- class parts ------------------------------------------------------------------------------

void TCustomDurableNode::WriteAfter(TValueWriter& w) const {
    ClipRange.SaveToWriter(w);
}
void TCustomDurableNode::ReadAfter(TValueReader& r) {
    ClipRange.LoadFromReader(r);
}
