#include "server/SrvActn.h"

namespace kelvo {

void TSrvActn::Write(const TXmlElement& parent, TXmlElement& element) {
  element = TXmlElement();
  TXmlElement added;
  try {
    added = AddChild(parent, GetName());
    if (!added) throw TSrvActnException("TSrvActn.Write:cannot add element " + GetName());
    if (clientTag_) clientTag_->WriteTo(added);
    element = added;
  } catch (const TSrvActnException&) {
    if (added && parent) {
      TXmlNode owner = parent;
      owner.RemoveChild(added);
    }
    element = TXmlElement();
  }
}

}  // namespace kelvo
