#pragma once
// Exceptions of the bookmark model: callers that walk trees catch these two
// to skip one node without giving up the walk.

#include "foundation/KException.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TBookmarkException, TKException);
KELVO_DECLARE_EXCEPTION(TFolderException, TKException);

}  // namespace kelvo
