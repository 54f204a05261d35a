// A project for the timeline tests: a video track with two black-frame clips of 5 s and 3 s
// joined by a 2 s transition (A 0-5, T 3-5, B 3-6), laid out at 15 fps, with helpers to add
// more nodes with a fixed duration.
#pragma once

#include <memory>
#include <string>

#include "ITreeItem.h"
#include "MyProjNode.h"

struct TTrackProject {
    TMemTree Tree;
    std::unique_ptr<TProjectNode> Root;
    TTreeNodeData* Queue;
    TTreeNodeData* A;
    TTreeNodeData* T;
    TTreeNodeData* B;

    TTrackProject() : Root(std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"))) {
        Queue = Root->VideoTrack; // a new project has one
        A = Add(Queue, nkBlank, "A", 5);
        T = Add(Queue, nkTransition, "T", 2);
        B = Add(Queue, nkBlank, "B", 3);
        // Each row its own colour, so pixels tell which row was painted.
        A->Color = 0x0000C0;
        T->Color = 0xC00000;
        B->Color = 0x00C000;
        Refresh();
    }

    // A node with a user duration of d seconds as last child of parent.
    TTreeNodeData* Add(TTreeNodeData* parent, uint8_t kind, const std::string& caption,
                       Extended d) {
        TTreeNodeData* n = parent->AddNode(caption, amLastChild, kind);
        n->AutoDuration = false;
        n->UserDuration = d;
        return n;
    }

    void Refresh() { Root->Refresh(); }
};
