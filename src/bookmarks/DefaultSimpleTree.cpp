#include "bookmarks/DefaultSimpleTree.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "bookmarks/Hashing.h"
#include "bookmarks/TreeTools.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

// "put" into an index whose first entry for a key wins.
class TUniquePut : public INodeMap {
 public:
  explicit TUniquePut(std::unordered_map<std::string, IBNodePtr>& map) : map_(map) {}
  void Put(const std::string& key, const IBNodePtr& node) override { map_.try_emplace(key, node); }

 private:
  std::unordered_map<std::string, IBNodePtr>& map_;
};

// "put" into an index that keeps every entry, in put order.
class TRepeatPut : public INodeMap {
 public:
  explicit TRepeatPut(std::unordered_map<std::string, TNodeList>& map) : map_(map) {}
  void Put(const std::string& key, const IBNodePtr& node) override { map_[key].push_back(node); }

 private:
  std::unordered_map<std::string, TNodeList>& map_;
};

}  // namespace

const char* ChangeKindName(TChangeKind kind) {
  switch (kind) {
    case ckBeginUpdate: return "begin update";
    case ckEndUpdate: return "end update";
  }
  return "";
}

const char* ChangeScopeName(TChangeScope scope) {
  switch (scope) {
    case csNone: return "none";
    case csData: return "data";
    case csStructure: return "structure";
    case csTerminated: return "terminated";
  }
  return "";
}

TTreeUpdateBracket::TTreeUpdateBracket(ITreeChangeNotifier* notifier) : notifier_(notifier) {
  if (notifier_) notifier_->BeginUpdate();
}

TTreeUpdateBracket::~TTreeUpdateBracket() {
  try {
    End();
  } catch (const std::exception& e) {
    TLog::LogException(e, "TTreeUpdateBracket.EndUpdate");
  } catch (...) {
    TLog::Error("TTreeUpdateBracket.EndUpdate:unknown exception");
  }
}

void TTreeUpdateBracket::End() {
  ITreeChangeNotifier* notifier = std::exchange(notifier_, nullptr);
  if (notifier) notifier->EndUpdate();
}

TDefaultSimpleTree::TDefaultSimpleTree(const std::string& name) : TFolder(name) {}

TDefaultSimpleTree::~TDefaultSimpleTree() = default;

void TDefaultSimpleTree::CollectStats(TBookmarkStats&) const {}

std::size_t TDefaultSimpleTree::CapacityHint(std::int32_t (IFolder::*count)() const,
                                             std::size_t previous) const {
  if (nodeCount_ < 0) return previous;
  const std::int32_t n = (this->*count)();
  return std::max(previous, n > 0 ? static_cast<std::size_t>(n) : std::size_t{0});
}

// Each index is built aside and installed only when complete, so a build
// that raises leaves no half-filled index behind.

void TDefaultSimpleTree::EnsureFolderIndex() const {
  if (folderIndex_) return;
  auto index = std::make_unique<TUniqueIndex>();
  index->reserve(CapacityHint(&IFolder::FolderCount, lastFolderIndexSize_));
  TUniquePut put(*index);
  IndexFolders(put);
  folderIndex_ = std::move(index);
}

void TDefaultSimpleTree::EnsureNodeIndex() const {
  if (nodeIndex_) return;
  auto index = std::make_unique<TUniqueIndex>();
  index->reserve(CapacityHint(&IFolder::NodeCount, lastNodeIndexSize_));
  TUniquePut put(*index);
  IndexNodes(hkPath, put);
  nodeIndex_ = std::move(index);
}

void TDefaultSimpleTree::EnsureURLIndex() const {
  if (urlIndex_) return;
  auto index = std::make_unique<TRepeatIndex>();
  index->reserve(CapacityHint(&IFolder::BookmarkCount, lastURLIndexSize_));
  TRepeatPut put(*index);
  IndexBookmarksByURL(put);
  urlIndex_ = std::move(index);
}

void TDefaultSimpleTree::EnsureCanonicalIndex() const {
  if (canonicalIndex_) return;
  auto index = std::make_unique<TRepeatIndex>();
  index->reserve(CapacityHint(&IFolder::BookmarkCount, lastCanonicalIndexSize_));
  TRepeatPut put(*index);
  IndexBookmarksByCanonicalURL(put);
  canonicalIndex_ = std::move(index);
}

void TDefaultSimpleTree::InitHashes() {
  InitChildHashes(std::string());
  ComputeRootHashes();
  EnsureNodeIndex();
  EnsureURLIndex();
  EnsureFolderIndex();
}

IFolderPtr TDefaultSimpleTree::FindFolder(const std::string& key) const {
  EnsureFolderIndex();
  const auto it = folderIndex_->find(key);
  return it == folderIndex_->end() ? nullptr : std::dynamic_pointer_cast<IFolder>(it->second);
}

IBNodePtr TDefaultSimpleTree::FindNode(const std::string& key) const {
  EnsureNodeIndex();
  const auto it = nodeIndex_->find(key);
  return it == nodeIndex_->end() ? nullptr : it->second;
}

TNodeList TDefaultSimpleTree::FindBookmarksByURL(const std::string& url) const {
  EnsureURLIndex();
  const auto it = urlIndex_->find(KeyURL(url));
  return it == urlIndex_->end() ? TNodeList() : it->second;
}

TNodeList TDefaultSimpleTree::FindBookmarksByCanonicalURL(const std::string& canonical) const {
  EnsureCanonicalIndex();
  const auto it = canonicalIndex_->find(KeyURL(canonical));
  return it == canonicalIndex_->end() ? TNodeList() : it->second;
}

std::int32_t TDefaultSimpleTree::CountByURL(const std::string& url) const {
  EnsureURLIndex();
  const auto it = urlIndex_->find(KeyURL(url));
  return it == urlIndex_->end() ? 0 : static_cast<std::int32_t>(it->second.size());
}

std::int32_t TDefaultSimpleTree::CountByCanonicalURL(const std::string& canonical) const {
  if (canonical.empty()) return 0;
  EnsureCanonicalIndex();
  const auto it = canonicalIndex_->find(KeyURL(canonical));
  return it == canonicalIndex_->end() ? 0 : static_cast<std::int32_t>(it->second.size());
}

void TDefaultSimpleTree::AddListener(const TTreeChangeMethod& method) {
  if (!method.Code) return;
  if (std::find(listeners_.begin(), listeners_.end(), method) == listeners_.end()) {
    listeners_.push_back(method);
  }
}

void TDefaultSimpleTree::RemoveListener(const TTreeChangeMethod& method) {
  std::erase(listeners_, method);
}

void TDefaultSimpleTree::Notify(TChangeKind kind, TChangeScope scope) {
  TChange change;
  change.Kind = kind;
  change.Scope = scope;
  // A listener may drop the last reference to the tree or unregister
  // another listener: keep the tree alive for the round and call only the
  // listeners that are still registered when their turn comes.
  const std::shared_ptr<IBNode> keepAlive = weak_from_this().lock();
  const std::vector<TTreeChangeMethod> round = listeners_;
  for (const TTreeChangeMethod& listener : round) {
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) continue;
    try {
      listener(change);
    } catch (const std::exception& e) {
      TLog::LogException(e, std::string("TDefaultSimpleTree.Notify:") + ChangeKindName(kind));
    } catch (...) {
      TLog::Error(std::string("TDefaultSimpleTree.Notify:") + ChangeKindName(kind) +
                  ":unknown exception");
    }
  }
}

void TDefaultSimpleTree::BeginUpdate() {
  if (updateDepth_ == 0 && !terminationPending_) Notify(ckBeginUpdate, csNone);
  ++updateDepth_;
}

void TDefaultSimpleTree::Rebuild() {
  const auto dropIndex = [](auto& index, std::size_t& size) {
    if (index) size = index->size();
    index.reset();
  };
  dropIndex(folderIndex_, lastFolderIndexSize_);
  dropIndex(nodeIndex_, lastNodeIndexSize_);
  dropIndex(urlIndex_, lastURLIndexSize_);
  dropIndex(canonicalIndex_, lastCanonicalIndexSize_);
  InitHashes();
  nodeCount_ = -1;
  ResetCounts();
  if (MarksDuplicates()) MarkDuplicates(*this);
}

void TDefaultSimpleTree::EndUpdate() {
  if (updateDepth_ <= 0) {
    // An unpaired call must not drive the depth negative, which would make
    // every later bracket silent.
    TLog::Warning("TDefaultSimpleTree.EndUpdate:no update in progress:" + GetName());
    return;
  }
  if (--updateDepth_ > 0) return;
  const std::shared_ptr<IBNode> keepAlive = weak_from_this().lock();
  // The listeners hear the end of the bracket even when the rebuild fails;
  // the failure then reaches the caller.
  std::exception_ptr failure;
  try {
    Rebuild();
  } catch (...) {
    failure = std::current_exception();
  }
  Notify(ckEndUpdate, csStructure);
  if (terminationPending_ && updateDepth_ == 0) {
    // The termination signalled inside the bracket is delivered now.
    terminationPending_ = false;
    NotifyTerminated();
  }
  if (failure) std::rethrow_exception(failure);
}

void TDefaultSimpleTree::NotifyTerminated() {
  if (updateDepth_ > 0) {
    terminationPending_ = true;
    return;
  }
  const std::shared_ptr<IBNode> keepAlive = weak_from_this().lock();
  BeginUpdate();
  Notify(ckEndUpdate, csTerminated);
}

}  // namespace kelvo
