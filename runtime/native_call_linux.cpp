// Native calls on Linux: the platform's export tables (platform/exports.h).
#include "platform/exports.h"
#include "platform/graphics/exports_graphics.h"
#include "platform/graphics/picture.h"
#include "runtime/native_call.h"

namespace velmo {

const void* BindNative(const std::string& library, const std::string& entry) {
  platform::RegisterGraphicsExports();
  return platform::FindExport(library, entry);
}

NativeResult InvokeNative(const void* target, std::uint32_t argc, const host::Word* argv) {
  const auto* e = static_cast<const platform::Export*>(target);
  host::Word args[platform::kMaxArgs] = {};
  for (std::uint32_t i = 0; i < argc && i < platform::kMaxArgs; ++i) args[i] = argv[i];
  return {e->thunk(args), argc != e->args.count};
}

std::string LastPictureFailure() { return graphics::LoadFailureWord(graphics::LastLoadFailure()); }

}  // namespace velmo
