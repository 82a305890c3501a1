#pragma once
// Tree differences: how the local Favorites tree and the tree built from the
// server's links differ. The two trees are first paired node by node where
// their identity keys agree; what is left unpaired is then matched pairwise
// by path, name and URL into a list of differences, which TTreeMerge applies
// to the local tree.
//
// How the bookmarks controller uses it (merge mode): with both trees' keys
// computed (the trees' InitHashes / EndUpdate) and inside an update bracket
// of the local tree,
//   PairTrees (local, server);
//   list := ComputeDifferences (local, server);
//   log "Differences:" + DifferencesText (list);
//   TTreeMerge.ApplyDifferences (list); TTreeMerge.CopyServerData (local);
// TTreeMerge::MergeFrom does exactly this.
//
// Pairing writes the nodes' pairing fields (IBNode tags): a paired node's tag
// is the address of its partner in the other tree, uncounted, so the other
// tree must outlive every use of the pairing. One thread uses the trees at a
// time; nothing here locks.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bookmarks/BNode.h"
#include "bookmarks/Folder.h"

namespace kelvo {

// What differs between a local node and a server node.
enum TBNodeDiffKind : std::uint8_t {
  DiffMoved = 0,           // same node, different location
  DiffCaptionChanged = 1,  // same node, different name
  DiffUrlChanged = 2,      // same bookmark, different URL
  DiffDeleted = 3,         // local node without a counterpart on the server
  DiffAdded = 4,           // server node without a counterpart locally
  DiffNone = 5,            // unrelated (only while matching, never listed)
};

// "DiffMoved" ... "DiffNone"; "" for a value outside the enumeration.
const char* DiffKindName(TBNodeDiffKind kind);

// ---- The pairing field

// Mark values of the pairing field. Any tag below kMarkLimit is a mark; a
// larger one is the paired node of the other tree.
inline constexpr TNodeTag kMarkCreated = 1;  // made by the merge
inline constexpr TNodeTag kMarkTouched = 4;  // exists in the source tree
inline constexpr TNodeTag kMarkLimit = 255;

// Engine bits of the node flags (beside the model's nfModified). A node the
// merge creates gets kFlagCreated, so that the Favorites writer's mask 3
// (kFlagCreated | nfModified) writes it; paired bookmarks get kFlagTouched.
inline constexpr std::uint32_t kFlagCreated = 1;
inline constexpr std::uint32_t kFlagTouched = 4;
inline constexpr std::uint32_t kFlagUpload = 8;
inline constexpr std::uint32_t kFlagUnpairedUpload = 16;
inline constexpr std::uint32_t kEngineFlags =
    kFlagCreated | kFlagTouched | kFlagUpload | kFlagUnpairedUpload;

// The partner of a paired node, nullptr when its tag is empty or a mark.
IBNode* PairedNode(const IBNode& node);
inline bool IsPaired(const IBNode& node) { return PairedNode(node) != nullptr; }
// The tag is a mark value (not empty, not a partner).
bool HasMark(const IBNode& node, TNodeTag mark);
void SetPair(IBNode& a, IBNode& b);

// Empties the pairing field and clears the engine flag bits of every node
// of the (sub)tree, the folder itself included; nfModified and the other
// bits are kept.
void ClearMarks(IBNode& tree);

// ---- Differences

class IBNodeDifference {
 public:
  virtual ~IBNodeDifference() = default;
  virtual IBNodePtr GetLocalNode() const = 0;
  virtual IBNodePtr GetServerNode() const = 0;
  virtual TBNodeDiffKind GetKind() const = 0;
  // "Type:" + kind name, then CR LF + the description (TreeTools' Describe)
  // of the local node and of the server node, each when present.
  virtual std::string GetText() const = 0;
};
using IBNodeDifferencePtr = std::shared_ptr<IBNodeDifference>;
using TBNodeDifferenceList = std::vector<IBNodeDifferencePtr>;

class TBNodeDifference : public IBNodeDifference {
 public:
  TBNodeDifference(TBNodeDiffKind kind, IBNodePtr localNode, IBNodePtr serverNode);

  IBNodePtr GetLocalNode() const override { return localNode_; }
  IBNodePtr GetServerNode() const override { return serverNode_; }
  TBNodeDiffKind GetKind() const override { return kind_; }
  std::string GetText() const override;

 private:
  TBNodeDiffKind kind_;
  IBNodePtr localNode_;
  IBNodePtr serverNode_;
};

// Clears the pairing fields (and engine flags) of both trees, then pairs
// from the two roots: in each pair of folders, a local bookmark is paired
// with the first unpaired server bookmark of the same name-and-URL key (both
// get kFlagTouched), a local folder that is not private with the first
// unpaired server folder of the same name key, whose children are then
// paired in turn. Time linear in the trees (keys are looked up by hash).
void PairTrees(IFolder& localTree, IFolder& serverTree);

// Pairs two nodes the comparison found to be the same node and, for two
// folders, their children by key as PairTrees does (keys must be computed
// for the children). The merge uses it so that the nodes a difference
// matched, and the copies it made, receive the server's data as well.
void PairNodes(IBNode& local, IBNode& server);

// Pre-order, children in order: every node without a partner (its subtree
// not entered); paired folders are entered, paired bookmarks skipped.
TNodeList CollectUnpaired(const IFolder& tree);

// The differences of two paired trees: each unpaired local node, from the
// last to the first, against the unpaired server nodes from the first on
// (the first that relates wins and is used up), else DiffDeleted; then
// DiffAdded for each server node left, from the last to the first. What
// CompareNodes needs is computed once per unpaired node.
TBNodeDifferenceList ComputeDifferences(const IFolder& localTree, const IFolder& serverTree);

// The texts of all differences, each preceded by CR LF.
std::string DifferencesText(const TBNodeDifferenceList& list);

// How two nodes of different trees relate:
// - a bookmark and a folder never relate;
// - bookmarks in the same folder path: same URL and another name is
//   DiffCaptionChanged, same name and another URL DiffUrlChanged;
// - bookmarks in different folder paths with the same name and URL:
//   DiffMoved;
// - folders with the same content checksum: DiffMoved for the same name,
//   DiffCaptionChanged for another. The checksum is that of the identity
//   keys over the valid content, with the server ids left out: the server's
//   copy carries ids the Favorites folder cannot keep, and with them no
//   renamed or moved folder would ever be recognized;
// - anything else DiffNone.
// Names and folder paths compare in their comparison form (the form the
// identity keys use), so that a name the Favorites folder had to store in a
// file-safe form still matches the server's. A private folder, and a folder
// without any valid bookmark (two empty folders say nothing about each
// other), relate to nothing.
TBNodeDiffKind CompareNodes(const IBNode& a, const IBNode& b);

}  // namespace kelvo
