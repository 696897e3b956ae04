#include "runtime/picture_record.h"

#include "runtime/native_call.h"

namespace velmo {

void PictureRecord::Bind(std::size_t index, const std::string& entry) {
  if (calls_.size() <= index) calls_.resize(index + 1, Call::kOther);
  Call call = Call::kOther;
  if (entry == "GdipLoadImageFromFile") call = Call::kLoad;
  else if (entry == "GdipGetImageDimension") call = Call::kDimension;
  else if (entry == "GdipDrawImageRect") call = Call::kDraw;
  else if (entry == "GdipDisposeImage") call = Call::kDispose;
  else if (entry == "GdiplusShutdown") call = Call::kShutdown;
  calls_[index] = call;
}

void PictureRecord::Observe(std::uint32_t index, std::uint32_t argc, const host::Word* argv, host::Word result,
                            UiBackend* ui) {
  const Call call = index < calls_.size() ? calls_[index] : Call::kOther;
  if (call == Call::kOther) return;
  auto arg = [&](std::uint32_t i) { return i < argc ? argv[i] : host::Word(0); };
  const auto status = static_cast<std::uint32_t>(result);
  auto outcome = [&](host::Word image) {
    auto it = images_.find(image);
    if (it != images_.end() && ui) ui->PictureOutcome(it->second, status, {});
  };
  switch (call) {
    case Call::kLoad: {
      const auto* path = reinterpret_cast<const std::uint16_t*>(arg(0));
      if (!path) return;
      if (status != 0) {
        if (ui) ui->PictureOutcome(Utf16ToUtf8(path), status, LastPictureFailure());
      } else if (arg(1)) {
        images_[*reinterpret_cast<const host::Word*>(arg(1))] = Utf16ToUtf8(path);
      }
      return;
    }
    case Call::kDimension:
      if (status != 0) {
        outcome(arg(0));
        images_.erase(arg(0));
      }
      return;
    case Call::kDraw:
      outcome(arg(1));
      return;
    case Call::kDispose:
      if (status == 0) images_.erase(arg(0));
      return;
    case Call::kShutdown:
      images_.clear();
      return;
    case Call::kOther:
      return;
  }
}

std::string Utf16ToUtf8(const std::uint16_t* text) {
  std::string out;
  for (const std::uint16_t* p = text; *p; ++p) {
    std::uint32_t c = *p;
    if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace velmo
