#include "runtime/host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "host/args.h"
#include "host/ui.h"
#include "host/little_endian.h"
#include "platform/trace.h"
#include "runtime/native_call.h"
#include "runtime/system.h"
#include "runtime/text_commands.h"
#include "runtime/window_builder.h"
#include "runtime/windows_path.h"

namespace velmo {
namespace {

using host::ArgRecord;
using host::Word;

// The service table's slots: plain C entry points that forward to the host.
extern "C" {
void SlotReportRuntimeError(std::uint32_t code) { Host::Get().ReportRuntimeError(code); }
Word SlotCallNative(std::uint32_t index, std::uint32_t argc, const Word* argv) {
  return Host::Get().CallNative(index, argc, argv);
}
Word SlotCallLibraryCommand(std::uint32_t library, std::uint32_t command, std::uint32_t argc,
                            const ArgRecord* args) {
  return Host::Get().CallLibraryCommand(library, command, argc, args);
}
Word SlotCallCoreCommand(std::uint32_t command, std::uint32_t argc, const ArgRecord* args) {
  return Host::Get().CallCoreCommand(command, argc, args);
}
Word SlotReadProperty(std::uint32_t window, std::uint32_t control, std::uint32_t property,
                      std::int32_t) {
  return Host::Get().ReadProperty(window, control, property);
}
void SlotWriteProperty(std::uint32_t window, std::uint32_t control, std::uint32_t property,
                       std::int32_t, std::uint32_t low, std::uint32_t high) {
  Host::Get().WriteProperty(window, control, property, low, high);
}
void* SlotAllocate(std::uint32_t bytes) { return Host::Get().Allocate(bytes); }
void SlotUnused() { platform::Trace("service slot 0x1c called"); }
void SlotFree(void* block) { Host::Get().Free(block); }
void SlotEndProgram(Word code) { Host::Get().EndProgram(code); }
void SlotRunMessageLoop(Word) { Host::Get().RunMessageLoop(); }
void SlotLoadStartWindow(std::uint32_t windowId) { Host::Get().LoadStartWindow(windowId); }
Word SlotAuxService(std::uint32_t function, Word a, Word b, Word c, Word d) {
  return Host::Get().AuxService(function, a, b, c, d);
}
}

template <typename F>
Word Addr(F f) {
  return reinterpret_cast<Word>(f);
}

std::string Hex(std::uint64_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << v;
  return s.str();
}

const char* TextArg(std::uint32_t argc, const ArgRecord* args, std::uint32_t i) {
  if (i >= argc) return "";
  const char* t = host::AsText(args[i]);
  return t ? t : "";
}

std::int64_t IntArg(std::uint32_t argc, const ArgRecord* args, std::uint32_t i) {
  if (i >= argc || host::IsOmitted(args[i])) return 0;
  if (args[i].tag == static_cast<std::uint32_t>(host::TypeTag::kDouble))
    return static_cast<std::int64_t>(host::AsDouble(args[i]));
  return static_cast<std::int32_t>(args[i].low);
}

std::optional<std::int64_t> OptionalIntArg(std::uint32_t argc, const ArgRecord* args, std::uint32_t i) {
  if (i >= argc || host::IsOmitted(args[i])) return std::nullopt;
  return IntArg(argc, args, i);
}

bool LogicalArg(std::uint32_t argc, const ArgRecord* args, std::uint32_t i) {
  return i < argc && !host::IsOmitted(args[i]) && args[i].low != 0;
}

Word IntResult(std::int64_t v) { return static_cast<std::uint32_t>(static_cast<std::int32_t>(v)); }

// The exit status when no user interface could be made: with VELMO_SCRIPT
// set, the scenario could not be played (unreadable, a malformed line, a path
// with no Windows form): 2, as for a scenario that does not fit the window;
// otherwise there is no display: 4.
int NoBackendStatus() {
  const char* script = std::getenv("VELMO_SCRIPT");
  return script && *script ? 2 : 4;
}

}  // namespace

Host& Host::Get() {
  static Host* host = new Host();  // lives until the process ends
  return *host;
}

bool Host::Load(std::uint8_t* image, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::string readError;
  auto parsed = image::ReadProgramImage({image, image::kDataSectionSize}, &readError);
  if (!parsed) return fail("damaged program image: " + readError);
  parsed_ = std::move(*parsed);
  image_ = image;

  const image::Segment& code = parsed_.Code();
  const image::Segment& cst = parsed_.Const();
  const image::Segment& var = parsed_.Var();
  if (!code.hasBytes) return fail("damaged program image: the code segment has no bytes");
  code_ = image + code.dataOffset;
  codeSize_ = code.DeclaredByteCount();
  const_ = cst.hasBytes ? image + cst.dataOffset : nullptr;
  constSize_ = cst.hasBytes ? cst.DeclaredByteCount() : 0;
  vars_.assign((var.memorySize + host::kStoredUnit - 1) / host::kStoredUnit, 0);

  // The service table.
  using host::Slot;
  using host::SlotIndex;
  table_.slot[SlotIndex(Slot::ReportRuntimeError)] = Addr(&SlotReportRuntimeError);
  table_.slot[SlotIndex(Slot::CallNative)] = Addr(&SlotCallNative);
  table_.slot[SlotIndex(Slot::CallLibraryCommand)] = Addr(&SlotCallLibraryCommand);
  table_.slot[SlotIndex(Slot::CallCoreCommand)] = Addr(&SlotCallCoreCommand);
  table_.slot[SlotIndex(Slot::ReadProperty)] = Addr(&SlotReadProperty);
  table_.slot[SlotIndex(Slot::WriteProperty)] = Addr(&SlotWriteProperty);
  table_.slot[SlotIndex(Slot::Allocate)] = Addr(&SlotAllocate);
  table_.slot[SlotIndex(Slot::Unused1c)] = Addr(&SlotUnused);
  table_.slot[SlotIndex(Slot::Free)] = Addr(&SlotFree);
  table_.slot[SlotIndex(Slot::EndProgram)] = Addr(&SlotEndProgram);
  table_.slot[SlotIndex(Slot::RunMessageLoop)] = Addr(&SlotRunMessageLoop);
  table_.slot[SlotIndex(Slot::LoadStartWindow)] = Addr(&SlotLoadStartWindow);
  table_.slot[SlotIndex(Slot::AuxService)] = Addr(&SlotAuxService);

  // Fixups: each cell is one word; its stored 32-bit value becomes an address.
  for (std::uint32_t entry : code.fixups) {
    std::uint32_t at = image::FixupOffset(entry);
    if (at > codeSize_ || codeSize_ - at < sizeof(Word))
      return fail("damaged program image: fixup at code offset " + Hex(at) + " leaves the code");
    std::uint32_t stored = host::Le32(code_ + at);
    Word value = 0;
    switch (image::FixupTypeOf(entry)) {
      case 0:
        if (stored % host::kStoredUnit || stored / host::kStoredUnit >= host::kSlotCount)
          return fail("damaged program image: fixup at " + Hex(at) + " names service slot " + Hex(stored));
        value = reinterpret_cast<Word>(&table_.slot[stored / host::kStoredUnit]);
        break;
      case 1:
        if (stored >= constSize_)
          return fail("damaged program image: fixup at " + Hex(at) + " names constant " + Hex(stored) +
                      " past the const segment");
        value = reinterpret_cast<Word>(const_ + stored);
        break;
      case 2:
        if (stored % host::kStoredUnit || stored / host::kStoredUnit >= vars_.size())
          return fail("damaged program image: fixup at " + Hex(at) + " names global " + Hex(stored));
        value = reinterpret_cast<Word>(&vars_[stored / host::kStoredUnit]);
        break;
      case 3:
        if (stored >= codeSize_)
          return fail("damaged program image: fixup at " + Hex(at) + " names code offset " + Hex(stored));
        value = reinterpret_cast<Word>(code_ + stored);
        break;
      default:
        return fail("damaged program image: fixup at " + Hex(at) + " has unknown type " +
                    std::to_string(image::FixupTypeOf(entry)));
    }
    std::memcpy(code_ + at, &value, sizeof value);
  }

  // Identifiers keep their values; check that they name what exists.
  for (std::uint32_t at : parsed_.idGroups[1]) {
    if (at + 4 > codeSize_ || host::Le32(code_ + at) >= parsed_.nativeCalls.size())
      return fail("damaged program image: native-call index at code offset " + Hex(at) + " is out of range");
  }
  for (std::uint32_t at : parsed_.idGroups[2]) {
    if (at + 4 > codeSize_ || host::Le32(code_ + at) >= parsed_.libraries.size())
      return fail("damaged program image: library index at code offset " + Hex(at) + " is out of range");
  }

  // Native calls bind by library and entry name, now rather than at the first call.
  profile_.Reset();
  natives_.clear();
  for (std::size_t i = 0; i < parsed_.nativeCalls.size(); ++i) {
    const auto& n = parsed_.nativeCalls[i];
    BoundNative b{n.library, n.entry, BindNative(n.library, n.entry), profile_.TimingOf(n.entry)};
    if (!b.target)
      return fail("native call " + std::to_string(i) + ": no library " +
                  (n.library.empty() ? std::string("(system)") : "\"" + n.library + "\"") +
                  " exports \"" + n.entry + "\"");
    natives_.push_back(std::move(b));
    pictures_.Bind(i, n.entry);
    if (n.library.empty() && n.entry == "CreateCompatibleBitmap") bitmapNative_ = static_cast<std::int64_t>(i);
  }
  getObject_ = BindNative("", "GetObjectA");
  deleteObject_ = BindNative("", "DeleteObject");

  if (parsed_.startRoutine + sizeof(Word) > codeSize_)
    return fail("damaged program image: the start routine lies outside the code");

  heap_.SetConstantRange(image, image::kDataSectionSize);
  heap_.SetExhaustedHandler([this](std::uint32_t bytes) { OutOfMemory(bytes); });
  return true;
}

bool Host::EnsureBackend(std::string* error) {
  if (ui_) return true;
  ui_ = MakeBackendFromEnvironment(error);
  return ui_ != nullptr;
}

int Host::RunImage(std::uint8_t* image) {
  std::string error;
  if (!Load(image, &error)) {
    std::fprintf(stderr, "velmo: %s\n", error.c_str());
    return 3;
  }
  if (!EnsureBackend(&error)) {
    std::fprintf(stderr, "velmo: %s\n", error.c_str());
    return NoBackendStatus();
  }
  CallRoutine(parsed_.startRoutine, nullptr, 0);
  // The start routine ends through EndProgram; returning here means it did not.
  Finish();
  return 0;
}

void Host::CallRoutine(std::uint32_t codeOffset, const std::int32_t* args, int argc) {
  if (codeOffset > codeSize_ || codeSize_ - codeOffset < sizeof(Word)) {
    platform::Trace("no routine at code offset %s", Hex(codeOffset).c_str());
    return;
  }
  Word fn;
  std::memcpy(&fn, code_ + codeOffset, sizeof fn);
  if (!fn) {
    platform::Trace("the routine at code offset %s is not part of this program", Hex(codeOffset).c_str());
    return;
  }
  if (argc >= 3 && args)
    reinterpret_cast<void (*)(std::int32_t, std::int32_t, std::int32_t)>(fn)(args[0], args[1], args[2]);
  else
    reinterpret_cast<void (*)()>(fn)();
}

void Host::ReportRuntimeError(std::uint32_t code) {
  std::string detail = "runtime error " + std::to_string(code);
  if (code == host::kErrorStackDepth && currentNative_ >= 0 &&
      static_cast<std::size_t>(currentNative_) < natives_.size()) {
    const auto& n = natives_[currentNative_];
    detail += ": native call " + std::to_string(currentNative_) + " (" +
              (n.library.empty() ? std::string("system") : n.library) + "!" + n.entry +
              ") changed the stack depth";
  }
  std::fprintf(stderr, "velmo: %s\n", detail.c_str());
  if (ui_) ui_->RuntimeError(code, detail);
}

Word Host::CallNative(std::uint32_t index, std::uint32_t argc, const Word* argv) {
  if (index >= natives_.size()) {
    platform::Trace("native call %u does not exist", index);
    return 0;
  }
  const BoundNative& native = natives_[index];
  NativeResult result;
  if (native.timing == Profile::Timing::kUntimed) {
    result = InvokeNative(native.target, argc, argv);
  } else {
    const double start = Now();
    result = InvokeNative(native.target, argc, argv);
    profile_.AddCall(native.timing, Now() - start);
  }
  pictures_.Observe(index, argc, argv, result.value, ui_.get());
  if (result.depthChanged) {
    currentNative_ = index;
    ReportRuntimeError(host::kErrorStackDepth);
    currentNative_ = -1;
  }
  if (index == bitmapNative_ && result.value && !ExportFits(result.value)) return 0;
  return result.value;
}

// The program saves its picture by fetching the bitmap's rows into one block
// (GetDIBits) and joining them with the file's headers into a second; both
// are live at once, beside the bitmap. When the address space cannot hold
// those two blocks right after the bitmap is made, it cannot after the tiles
// are drawn either: nothing the program holds then is given back before the
// export. So the bitmap is refused at once, and the program ends the merge
// with its own bitmap failure instead of drawing every tile and then meeting
// the host's out-of-memory end. The estimate is low on purpose (no colour
// table, no rounding to pages), so no merge that could be saved is refused.
bool Host::ExportFits(Word bitmap) {
  if (!getObject_ || !deleteObject_) return true;
  struct {  // BITMAP
    std::int32_t type, width, height, widthBytes;
    std::uint16_t planes, bitsPerPixel;
    std::uint32_t bits;
  } bm{};
  static_assert(sizeof bm == 24);
  const Word query[3] = {bitmap, sizeof bm, reinterpret_cast<Word>(&bm)};
  if (InvokeNative(getObject_, 3, query).value == 0 || bm.width <= 0 || bm.height <= 0) return true;
  const std::uint64_t rowBytes = (std::uint64_t(bm.width) * bm.bitsPerPixel * bm.planes + 31) / 32 * 4;
  const std::uint64_t rows = rowBytes * std::uint64_t(bm.height);
  const std::uint64_t buffer = sizeof(host::BufferHeader);
  const std::uint64_t fileHeaders = 14 + 40;  // BITMAPFILEHEADER, BITMAPINFOHEADER
  if (sys::AddressSpaceHolds({buffer + rows, buffer + fileHeaders + rows})) return true;
  std::fprintf(stderr,
               "velmo: the %d x %d bitmap is refused: saving it needs two more blocks of %.1f MiB, "
               "which the address space cannot hold\n",
               bm.width, bm.height, rows / (1024.0 * 1024.0));
  const Word object[1] = {bitmap};
  InvokeNative(deleteObject_, 1, object);
  return false;
}

Word Host::CallCoreCommand(std::uint32_t command, std::uint32_t argc, const ArgRecord* args) {
  using host::Core;
  switch (static_cast<Core>(command)) {
    case Core::ProgramDir:
      return reinterpret_cast<Word>(heap_.CopyText(sys::ProgramDir()));
    case Core::TextLength:
      return IntResult(TextLength(TextArg(argc, args, 0)));
    case Core::RightText:
      return reinterpret_cast<Word>(heap_.CopyText(RightText(TextArg(argc, args, 0), IntArg(argc, args, 1))));
    case Core::FindText:
      return IntResult(FindText(TextArg(argc, args, 0), TextArg(argc, args, 1),
                                OptionalIntArg(argc, args, 2), LogicalArg(argc, args, 3)));
    case Core::FindTextBack:
      return IntResult(FindTextBack(TextArg(argc, args, 0), TextArg(argc, args, 1),
                                    OptionalIntArg(argc, args, 2), LogicalArg(argc, args, 3)));
    case Core::ToText: {
      std::string s;
      if (argc >= 1 && args[0].tag == static_cast<std::uint32_t>(host::TypeTag::kDouble))
        s = ToText(host::AsDouble(args[0]));
      else if (argc >= 1 && args[0].tag == static_cast<std::uint32_t>(host::TypeTag::kText))
        s = TextArg(argc, args, 0);
      else
        s = ToText(static_cast<std::int64_t>(IntArg(argc, args, 0)));
      return reinterpret_cast<Word>(heap_.CopyText(s));
    }
    case Core::ZeroBytes: {
      // A count: its 32 bits are read unsigned, so that a picture of 2 GiB or
      // more (whose size no longer fits a signed integer) still gets its buffer.
      std::uint32_t size = 0;
      if (argc >= 1 && args[0].tag == static_cast<std::uint32_t>(host::TypeTag::kDouble)) {
        double d = host::AsDouble(args[0]);
        size = d > 0 && d < 4294967296.0 ? static_cast<std::uint32_t>(d) : 0;
      } else if (argc >= 1) {
        size = args[0].low;
      }
      if (size > 0xFFFFFFFFu - sizeof(host::BufferHeader)) {
        platform::Trace("ZeroBytes(%u): more than a byte buffer can hold", size);
        size = 0;
      }
      auto* b = static_cast<host::BufferHeader*>(
          heap_.AllocateZeroed(static_cast<std::uint32_t>(sizeof(host::BufferHeader) + size)));
      b->one = 1;
      b->length = size;
      return reinterpret_cast<Word>(b);
    }
    case Core::FileExists: {
      const char* name = TextArg(argc, args, 0);
      const bool exists = sys::FileExists(name);
      if (!exists && ui_) ui_->FileMissing(sys::AnsiToUtf8(name));
      return exists ? 1 : 0;
    }
    case Core::WriteBytes: {
      const host::BufferHeader* b = argc >= 2 ? host::AsBuffer(args[1]) : nullptr;
      const double start = profile_.on() ? Now() : 0;
      bool written = sys::WriteBytes(TextArg(argc, args, 0), host::BufferData(b), host::BufferLength(b));
      if (profile_.on()) profile_.AddWrite(start, Now() - start);
      return written ? 1 : 0;
    }
    case Core::ShowMessage:
      if (ui_) ui_->ShowMessage(TextArg(argc, args, 0), static_cast<std::uint32_t>(IntArg(argc, args, 1)));
      return 0;
    case Core::Idle350:
      return 0;
    case Core::OpenDialog: {
      if (argc < 1 || !ui_) return 0;
      ControlState* st = props_.State(args[0].high);
      const ControlLayout* spec = props_.Spec(args[0].high);
      if (!st || !spec || spec->kind != host::kKindCommonDialog) {
        platform::Trace("OpenDialog: %s is not a common dialog", Hex(args[0].high).c_str());
        return 0;
      }
      SaveDialogRequest req{st->dialogTitle, st->dialogFilter, st->dialogFileName, st->dialogType};
      // A cancelled dialog keeps the file name it had.
      if (auto chosen = ui_->SaveDialog(req)) st->dialogFileName = *chosen;
      return 0;
    }
  }
  platform::Trace("unknown support command %s", Hex(command).c_str());
  return 0;
}

Word Host::CallLibraryCommand(std::uint32_t library, std::uint32_t command, std::uint32_t argc,
                              const ArgRecord* args) {
  if (library == static_cast<std::uint32_t>(host::Library::Velmo))
    return CallCoreCommand(command, argc, args);
  if (library != static_cast<std::uint32_t>(host::Library::Panea)) {
    platform::Trace("unknown support library %u", library);
    return 0;
  }
  switch (static_cast<host::Panea>(command)) {
    case host::Panea::BrowseFolder: {
      std::optional<std::string> chosen;
      if (ui_) chosen = ui_->BrowseFolder(TextArg(argc, args, 0));
      return reinterpret_cast<Word>(heap_.CopyText(WithoutTrailingBackslash(chosen.value_or(std::string()))));
    }
    case host::Panea::OpenTarget:
      if (ui_) ui_->OpenTarget(TextArg(argc, args, 1));
      return 0;
  }
  platform::Trace("unknown panea command %s", Hex(command).c_str());
  return 0;
}

Word Host::ReadProperty(std::uint32_t, std::uint32_t control, std::uint32_t property) {
  if (spec_ && control == 0) control = spec_->window.id;
  auto v = props_.Read(control, property);
  if (!v) {
    platform::Trace("property %u of unknown control %s read", property, Hex(control).c_str());
    return 0;
  }
  if (v->isText) return reinterpret_cast<Word>(heap_.CopyText(v->text));
  return static_cast<std::uint32_t>(v->number);
}

void Host::WriteProperty(std::uint32_t, std::uint32_t control, std::uint32_t property,
                         std::uint32_t low, std::uint32_t high) {
  if (spec_ && control == 0) control = spec_->window.id;
  const ControlLayout* spec = props_.Spec(control);
  if (!spec) {
    platform::Trace("property %u of unknown control %s written", property, Hex(control).c_str());
    return;
  }
  const char* text = nullptr;
  if (PropertyStore::IsTextProperty(spec->kind, property))
    text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(low | std::uint64_t(high) << 32));
  auto v = props_.Write(control, property, static_cast<std::int32_t>(low), text);
  if (spec->kind == host::kKindProgressBar) profile_.ProgressWritten();
  if (v && ui_) ui_->PropertyWritten(*spec, property, *v);
}

void Host::Free(void* block) {
  // A large block is about to go: the memory in use now may be the merge's
  // most (the bitmap, its fetched rows and the joined bytes all held).
  if (profile_.on() && heap_.IsMapped(block)) profile_.SampleMemory();
  if (heap_.Free(block) == BlockHeap::FreeResult::kUnknown)
    platform::Trace("Free of a block the host did not hand out (ignored)");
}

void Host::Finish() {
  if (finished_) return;
  finished_ = true;
  if (endRoutine_) {
    Word fn;
    std::memcpy(&fn, reinterpret_cast<void*>(endRoutine_), sizeof fn);
    if (fn) reinterpret_cast<void (*)()>(fn)();
  }
  profile_.Report();
  platform::Trace("%zu blocks left after the end routine", heap_.LiveBlocks());
  // What the program leaves behind is released with it.
  heap_.ReleaseAll();
}

void Host::OutOfMemory(std::uint32_t bytes) {
  const double mib = bytes / (1024.0 * 1024.0);
  const sys::NoRoom why = sys::WhyNoRoom(bytes);
  std::fprintf(stderr, "velmo: out of memory: a block of %.1f MiB %s; "
               "the program ends without saving (exit status %d)\n",
               mib, why.english.c_str(), kExitOutOfMemory);
  if (ui_) {
    char size[32];
    std::snprintf(size, sizeof size, "%.0f", mib < 1 ? 1 : mib);
    ui_->ShowMessage(sys::Utf8ToAnsi(std::string("内存不足:") + size + " MB 的数据" + why.chinese +
                                     ",程序只能结束,图片没有保存。"),
                     host::kStyleError);
  }
  sys::Exit(kExitOutOfMemory);
}

void Host::EndProgram(Word) {
  Finish();
  ui_.reset();
  sys::Exit(0);
}

void Host::RunMessageLoop() {
  if (ui_) ui_->RunMessageLoop();
}

void Host::LoadStartWindow(std::uint32_t windowId) {
  std::string error;
  auto spec = BuildWindowLayout(parsed_.form, windowId, &error);
  if (!spec) {
    std::fprintf(stderr, "velmo: cannot create window %s: %s\n", Hex(windowId).c_str(), error.c_str());
    sys::Exit(5);
  }
  spec_ = std::move(*spec);
  props_.Reset(*spec_);
  if (!ui_ && !EnsureBackend(&error)) {
    std::fprintf(stderr, "velmo: %s\n", error.c_str());
    sys::Exit(NoBackendStatus());
  }
  ui_->OnDisplayLost([this] {
    Finish();
    sys::Exit(0);
  });
  ui_->CreateMainWindow(*spec_, [this](std::uint32_t control, std::int32_t event,
                                       const std::int32_t* args, int argc) {
    FireEvent(control, event, args, argc);
  });
}

void Host::FireEvent(std::uint32_t control, std::int32_t event, const std::int32_t* args, int argc) {
  if (!spec_) return;
  const ControlLayout* c = spec_->Find(control);
  if (!c) return;
  for (const auto& b : c->events)
    if (b.event == event) {
      CallRoutine(b.codeOffset, args, argc);
      return;
    }
}

Word Host::FindFile(Word pattern, Word attribute, Word noFilter, Word handleAddr) {
  Word scratch = 0;
  auto* handle = handleAddr ? reinterpret_cast<Word*>(handleAddr) : &scratch;
  std::string name;
  if (pattern) {
    FindFilter filter = noFilter == 1 ? FindFilter::None()
                                      : FindFilter::Attributes(static_cast<std::uint32_t>(attribute));
    name = searches_.Start(*handle, sys::ListMatches(reinterpret_cast<const char*>(pattern), filter));
  } else {
    name = searches_.Next(*handle);
  }
  return reinterpret_cast<Word>(heap_.CopyText(name));
}

Word Host::AuxService(std::uint32_t function, Word a, Word b, Word c, Word d) {
  switch (static_cast<host::Aux>(function)) {
    case host::Aux::FindFile:
      return FindFile(a, b, c, d);
    case host::Aux::EndFind:
      searches_.End(a);
      return 0;
    case host::Aux::SetEndRoutine:
      endRoutine_ = a;
      return 0;
  }
  platform::Trace("unknown auxiliary service %u", function);
  return 0;
}

}  // namespace velmo
