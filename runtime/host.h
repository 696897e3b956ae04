// The runtime host: loads a program image, binds it, serves its routines
// through the service table and runs its window.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/abi.h"
#include "image/format/program_image.h"
#include "runtime/find_file.h"
#include "runtime/memory.h"
#include "runtime/picture_record.h"
#include "runtime/profile.h"
#include "runtime/properties.h"
#include "runtime/ui/backend.h"
#include "runtime/ui/window_layout.h"

namespace velmo {

struct BoundNative {
  std::string library, entry;  // as the image names them
  const void* target = nullptr;  // what the call is made to (runtime/native_call.h)
  Profile::Timing timing = Profile::Timing::kUntimed;  // decided when bound
};

// The host's exit status when a block can be had neither from memory nor
// from the spill directory.
inline constexpr int kExitOutOfMemory = 7;

class Host {
 public:
  static Host& Get();

  // Reads, binds and runs the image that lies at `image`. Returns only when
  // the program could not be started (the error is reported) or when the
  // start routine returned; the exit code to end with.
  int RunImage(std::uint8_t* image);

  // Loading steps, also used by tests: read and bind without running.
  bool Load(std::uint8_t* image, std::string* error);
  // Uses this backend instead of one chosen from the environment.
  void SetBackend(std::unique_ptr<UiBackend> backend) { ui_ = std::move(backend); }

  // --- services --------------------------------------------------------------
  void ReportRuntimeError(std::uint32_t code);
  host::Word CallNative(std::uint32_t index, std::uint32_t argc, const host::Word* argv);
  host::Word CallLibraryCommand(std::uint32_t library, std::uint32_t command, std::uint32_t argc,
                                const host::ArgRecord* args);
  host::Word CallCoreCommand(std::uint32_t command, std::uint32_t argc, const host::ArgRecord* args);
  host::Word ReadProperty(std::uint32_t window, std::uint32_t control, std::uint32_t property);
  void WriteProperty(std::uint32_t window, std::uint32_t control, std::uint32_t property,
                     std::uint32_t low, std::uint32_t high);
  void* Allocate(std::uint32_t bytes) { return heap_.Allocate(bytes); }
  void Free(void* block);
  [[noreturn]] void EndProgram(host::Word code);
  void RunMessageLoop();
  void LoadStartWindow(std::uint32_t windowId);
  host::Word AuxService(std::uint32_t function, host::Word a, host::Word b, host::Word c, host::Word d);

  // Calls the routine whose entry cell lies at `codeOffset`.
  void CallRoutine(std::uint32_t codeOffset, const std::int32_t* args, int argc);

 private:
  // The tests' view of the host's state (defined with the tests only).
  friend class HostInspector;

  Host() = default;
  bool EnsureBackend(std::string* error);
  void FireEvent(std::uint32_t control, std::int32_t event, const std::int32_t* args, int argc);
  host::Word FindFile(host::Word pattern, host::Word attribute, host::Word noFilter, host::Word handleAddr);
  // Everything that must happen once at the end, whichever way the program ends.
  void Finish();
  // A block that neither memory nor the spill directory can hold: said in
  // the window and on stderr, and the end (kExitOutOfMemory).
  [[noreturn]] void OutOfMemory(std::uint32_t bytes);
  // Whether the address space can hold the blocks the export of `bitmap`
  // will need (a new bitmap); when not, the bitmap is deleted.
  bool ExportFits(host::Word bitmap);

  std::uint8_t* image_ = nullptr;
  image::ProgramImage parsed_;
  std::uint8_t* code_ = nullptr;
  std::uint32_t codeSize_ = 0;
  std::uint8_t* const_ = nullptr;
  std::uint32_t constSize_ = 0;
  std::vector<host::Word> vars_;
  host::ServiceTable table_{};
  std::vector<BoundNative> natives_;
  // The native call that makes the picture's bitmap (-1: none), and the two
  // system functions the host uses on it.
  std::int64_t bitmapNative_ = -1;
  const void* getObject_ = nullptr;
  const void* deleteObject_ = nullptr;
  BlockHeap heap_;
  PropertyStore props_;
  std::optional<WindowLayout> spec_;
  std::unique_ptr<UiBackend> ui_;
  SearchTable searches_;
  host::Word endRoutine_ = 0;
  bool finished_ = false;
  std::int64_t currentNative_ = -1;
  Profile profile_;
  PictureRecord pictures_;
};

}  // namespace velmo
