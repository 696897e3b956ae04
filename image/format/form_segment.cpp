#include "image/format/form_segment.h"

#include <algorithm>

#include "host/ui.h"
#include "image/format/byte_io.h"

namespace image {
namespace {

constexpr std::uint32_t kWindowTableEntry = 8;  // id + parallel word
constexpr std::uint32_t kLengthFieldEnd = 0x24;

struct Shape {
  PropertyShape shape;
  std::uint32_t values;
  std::uint32_t trailer;
};

// The decoded shape of each kind's property data; kinds not listed keep
// theirs as raw bytes.
std::optional<Shape> ShapeOf(std::uint32_t kind) {
  switch (kind) {
    case host::kKindWindow: return Shape{PropertyShape::kWindow, kWindowValueCount, kWindowTrailerWords};
    case host::kKindLabel: return Shape{PropertyShape::kLabel, kLabelValueCount, kLabelTrailerWords};
    case host::kKindButton: return Shape{PropertyShape::kButton, kButtonValueCount, kButtonTrailerWords};
    default: return std::nullopt;
  }
}

void EncodeProperties(std::vector<std::uint8_t>& out, const PropertyData& p) {
  switch (p.shape) {
    case PropertyShape::kNone: return;
    case PropertyShape::kRaw: out.insert(out.end(), p.raw.begin(), p.raw.end()); return;
    case PropertyShape::kWindow:
    case PropertyShape::kLabel:
    case PropertyShape::kButton:
      for (auto v : p.values) Put32(out, v);
      Put32(out, static_cast<std::uint32_t>(p.caption.size()));
      PutBytes(out, p.caption);
      for (auto v : p.trailer) Put32(out, v);
      return;
  }
}

std::vector<std::uint8_t> EncodeRecord(const FormRecord& r) {
  std::vector<std::uint8_t> b;
  Put32(b, r.kind);
  b.insert(b.end(), r.reserved3.begin(), r.reserved3.end());
  PutText(b, r.name);
  PutText(b, r.remark);
  Put32(b, r.reserved6);
  Put32(b, static_cast<std::uint32_t>(r.left));
  Put32(b, static_cast<std::uint32_t>(r.top));
  Put32(b, static_cast<std::uint32_t>(r.width));
  Put32(b, static_cast<std::uint32_t>(r.height));
  Put32(b, r.reserved11);
  Put32(b, r.parent);
  Put32(b, static_cast<std::uint32_t>(r.children.size()));
  for (auto c : r.children) Put32(b, c);
  Put32(b, static_cast<std::uint32_t>(r.byteBlock.size()));
  b.insert(b.end(), r.byteBlock.begin(), r.byteBlock.end());
  PutText(b, r.tag);
  Put32(b, r.reserved18);
  Put32(b, r.flags);
  Put32(b, r.reserved20);
  Put32(b, static_cast<std::uint32_t>(r.events.size()));
  for (const auto& e : r.events) {
    Put32(b, static_cast<std::uint32_t>(e.event));
    Put32(b, e.handler);
  }
  b.insert(b.end(), r.reserved23.begin(), r.reserved23.end());
  EncodeProperties(b, r.properties);
  return b;
}

class RecordDecoder {
 public:
  RecordDecoder(std::span<const std::uint8_t> bytes, std::size_t begin, std::size_t end,
                std::string prefix, std::string* error)
      : c_(bytes, begin, end), prefix_(std::move(prefix)), error_(error) {}

  bool Decode(FormRecord& r) {
    std::uint32_t childCount = 0, blockLength = 0, eventCount = 0;
    if (!Need(c_.U32(r.kind), "kind") || !Need(Reserved(r.reserved3), "reserved bytes") ||
        !Need(c_.Text(r.name), "name") || !Need(c_.Text(r.remark), "remark") ||
        !Need(c_.U32(r.reserved6), "position") || !Need(c_.I32(r.left), "position") ||
        !Need(c_.I32(r.top), "position") || !Need(c_.I32(r.width), "size") ||
        !Need(c_.I32(r.height), "size") || !Need(c_.U32(r.reserved11), "parent") ||
        !Need(c_.U32(r.parent), "parent") || !Need(c_.U32(childCount), "child count"))
      return false;
    if (childCount > c_.remaining() / 4) return Fail("child count " + std::to_string(childCount) + " runs past the record");
    r.children.resize(childCount);
    for (auto& ch : r.children) c_.U32(ch);
    if (!Need(c_.U32(blockLength), "byte block")) return false;
    if (blockLength > c_.remaining()) return Fail("byte block of " + std::to_string(blockLength) + " bytes runs past the record");
    c_.Bytes(blockLength, r.byteBlock);
    if (!Need(c_.Text(r.tag), "tag") || !Need(c_.U32(r.reserved18), "state flags") ||
        !Need(c_.U32(r.flags), "state flags") || !Need(c_.U32(r.reserved20), "event count") ||
        !Need(c_.U32(eventCount), "event count"))
      return false;
    if (eventCount > c_.remaining() / 8) return Fail("event count " + std::to_string(eventCount) + " runs past the record");
    r.events.resize(eventCount);
    for (auto& e : r.events) {
      c_.I32(e.event);
      c_.U32(e.handler);
    }
    if (!Need(Reserved(r.reserved23), "reserved bytes after the events")) return false;
    return DecodeProperties(r);
  }

 private:
  bool Reserved(std::array<std::uint8_t, 20>& out) {
    std::uint8_t tmp[20];
    if (!c_.Fixed(tmp)) return false;
    std::copy(std::begin(tmp), std::end(tmp), out.begin());
    return true;
  }

  bool DecodeProperties(FormRecord& r) {
    std::size_t left = c_.remaining();
    PropertyData& p = r.properties;
    if (left == 0) return true;  // the kind's defaults
    auto shape = ShapeOf(r.kind);
    if (!shape) {
      p.shape = PropertyShape::kRaw;
      c_.Bytes(left, p.raw);
      return true;
    }
    p.shape = shape->shape;
    p.values.resize(shape->values);
    std::uint32_t length = 0;
    for (auto& v : p.values)
      if (!c_.U32(v)) return PropertyFail(left, shape->values * 4 + 4 + shape->trailer * 4);
    if (!c_.U32(length) || length > c_.remaining())
      return PropertyFail(left, shape->values * 4 + 4 + shape->trailer * 4);
    c_.Bytes(length, p.caption);
    std::size_t expected = std::size_t(shape->values) * 4 + 4 + length + shape->trailer * 4;
    if (left != expected) return PropertyFail(left, expected);
    p.trailer.resize(shape->trailer);
    for (auto& v : p.trailer) c_.U32(v);
    return true;
  }

  bool PropertyFail(std::size_t have, std::size_t expected) {
    return Fail("property data is " + std::to_string(have) + " bytes, its kind's layout needs " +
                std::to_string(expected));
  }

  bool Need(bool ok, const char* what) {
    return ok || Fail(std::string("cut short in its ") + what);
  }
  bool Fail(const std::string& what) {
    if (error_) *error_ = prefix_ + what;
    return false;
  }

  Cursor c_;
  std::string prefix_;
  std::string* error_;
};

std::nullopt_t Error(std::string* error, const std::string& what) {
  if (error) *error = "form: " + what;
  return std::nullopt;
}

std::optional<Form> Decode(std::span<const std::uint8_t> bytes, std::string* error) {
  Form f;
  Cursor c(bytes);
  std::uint32_t tableLength = 0, count = 0, length = 0;
  if (!c.U32(tableLength)) return Error(error, "cut short in its window table");
  if (tableLength != kWindowTableEntry) {
    if (tableLength == 0 || tableLength % kWindowTableEntry)
      return Error(error, "window table length " + std::to_string(tableLength) + " is not a whole number of windows");
    return Error(error, "describes " + std::to_string(tableLength / kWindowTableEntry) +
                           " windows; one window is supported");
  }
  if (!c.U32(f.windowId) || !c.U32(f.windowWord) || !c.U32(f.blockStart) || !c.U32(f.reservedId) ||
      !c.U32(f.reserved14) || !c.U32(f.reserved18) || !c.U32(count) || !c.U32(length))
    return Error(error, "cut short in its window block");
  if (length != bytes.size() - kLengthFieldEnd)
    return Error(error, "stated length " + std::to_string(length) + " does not match the " +
                           std::to_string(bytes.size() - kLengthFieldEnd) + " bytes that follow it");
  if (count == 0) return Error(error, "has no entries, not even the window's own record");
  if (count > c.remaining() / 8)
    return Error(error, std::to_string(count) + " entries do not fit in the segment");
  std::vector<std::uint32_t> ids(count), offsets(count);
  for (auto& id : ids) c.U32(id);
  for (auto& o : offsets) c.U32(o);
  const std::size_t base = c.pos();
  f.records.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string prefix = "form: entry " + std::to_string(i) + " (id " + Hex(ids[i]) + "): ";
    std::size_t start = base + offsets[i];
    std::uint32_t size = 0;
    Cursor at(bytes, start, bytes.size());
    if (start > bytes.size() || !at.U32(size)) {
      if (error) *error = prefix + "record offset " + Hex(offsets[i]) + " lies past the segment";
      return std::nullopt;
    }
    if (size > at.remaining()) {
      if (error) *error = prefix + "record size " + std::to_string(size) + " runs past the segment";
      return std::nullopt;
    }
    f.records[i].id = ids[i];
    RecordDecoder d(bytes, start + 4, start + 4 + size, prefix, error);
    if (!d.Decode(f.records[i])) return std::nullopt;
  }
  if (f.records[0].kind != host::kKindWindow)
    return Error(error, "entry 0 is not the window's own record (kind " + Hex(f.records[0].kind) + ")");
  auto known = [&](std::uint32_t id) { return std::find(ids.begin() + 1, ids.end(), id) != ids.end(); };
  for (std::uint32_t i = 0; i < count; ++i) {
    const FormRecord& r = f.records[i];
    if (r.parent != 0 && !known(r.parent))
      return Error(error, "entry " + std::to_string(i) + " (id " + Hex(r.id) + "): parent " + Hex(r.parent) +
                             " is no entry of the form");
    for (auto ch : r.children)
      if (!known(ch))
        return Error(error, "entry " + std::to_string(i) + " (id " + Hex(r.id) + "): child " + Hex(ch) +
                               " is no entry of the form");
  }
  return f;
}

}  // namespace

const FormRecord* Form::Find(std::uint32_t id) const {
  for (std::size_t i = 1; i < records.size(); ++i)
    if (records[i].id == id) return &records[i];
  return nullptr;
}

std::vector<std::uint8_t> EncodeForm(const Form& form) {
  const auto n = static_cast<std::uint32_t>(form.records.size());
  std::vector<std::uint8_t> out;
  Put32(out, kWindowTableEntry);
  Put32(out, form.windowId);
  Put32(out, form.windowWord);
  Put32(out, form.blockStart);
  Put32(out, form.reservedId);
  Put32(out, form.reserved14);
  Put32(out, form.reserved18);
  Put32(out, n);
  const std::size_t lengthAt = out.size();
  Put32(out, 0);
  for (const auto& r : form.records) Put32(out, r.id);
  const std::size_t offsetsAt = out.size();
  out.resize(out.size() + 4 * std::size_t(n));
  const std::size_t base = out.size();
  for (std::uint32_t i = 0; i < n; ++i) {
    Put32At(out, offsetsAt + 4 * i, static_cast<std::uint32_t>(out.size() - base));
    auto body = EncodeRecord(form.records[i]);
    Put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
  }
  Put32At(out, lengthAt, static_cast<std::uint32_t>(out.size() - kLengthFieldEnd));
  return out;
}

std::optional<Form> DecodeForm(std::span<const std::uint8_t> bytes, std::string* error) {
  try {
    return Decode(bytes, error);
  } catch (...) {
    if (error) *error = "form: out of memory while decoding";
    return std::nullopt;
  }
}

}  // namespace image
