#include "foundation/Translate.h"

#include <memory>
#include <mutex>

namespace kelvo {

namespace {
std::mutex gTranslatorMutex;
std::shared_ptr<const TTranslator> gTranslator;
}  // namespace

std::string Translate(const std::string& text) {
  std::shared_ptr<const TTranslator> translator;
  {
    std::lock_guard<std::mutex> lock(gTranslatorMutex);
    translator = gTranslator;
  }
  if (!translator || !*translator) return text;
  // A broken catalogue must never cost the user the message itself.
  try {
    return (*translator)(text);
  } catch (...) {
    return text;
  }
}

void SetTranslator(TTranslator translator) {
  std::lock_guard<std::mutex> lock(gTranslatorMutex);
  if (translator) gTranslator = std::make_shared<const TTranslator>(std::move(translator));
  else gTranslator.reset();
}

}  // namespace kelvo
