#pragma once
// A bookmark read from the link server's link list. It keeps the server
// reference ("...:<id>") it was sent with; its id for identity keys is the
// text after the last ":" of that reference. It has no feed address: the
// server marks a live bookmark only by the ".LIV" suffix of its title.

#include <memory>
#include <string>

#include "bookmarks/Bookmark.h"

namespace kelvo {

class TServerBookmark : public TBookmark {
 public:
  // A name of at least 5 characters ending in ".LIV" loses that suffix.
  TServerBookmark(const std::string& name, const std::string& url, const std::string& ref);

  std::uint8_t GetNodeType() const override { return kNodeTypeServerBookmark; }
  std::string GetRef() const override { return ref_; }
  void SetRef(const std::string& ref) override { ref_ = ref; }

 protected:
  std::string HashIdText() const override { return ServerIdTextFromRef(ref_); }

 private:
  std::string ref_;
};

// make_shared of the constructor. (Each node class is made in its own unit:
// GCC 12 folds the make_shared code of different node classes together and
// then warns about the result, -Warray-bounds.)
std::shared_ptr<TServerBookmark> NewServerBookmark(const std::string& name, const std::string& url,
                                                   const std::string& ref);

// The name a server title stands for: title without a ".LIV" suffix when it
// has at least 5 characters and ends with one (case-sensitive).
std::string ServerTitleToName(const std::string& title);

}  // namespace kelvo
