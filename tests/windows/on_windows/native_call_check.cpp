// Makes native calls the way the runtime host makes them, on the system's
// own functions, and prints one line per call: the result and whether the
// stack depth changed. The Linux side runs it under Wine and reads the lines.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "runtime/native_call.h"

namespace {

void Show(const char* what, const velmo::NativeResult& r) {
  std::printf("%s result=%lu changed=%d\n", what, static_cast<unsigned long>(r.value), r.depthChanged ? 1 : 0);
}

}  // namespace

int main() {
  using host::Word;
  const void* lstrlen = velmo::BindNative("", "lstrlenA");
  const void* mb2wc = velmo::BindNative("", "MultiByteToWideChar");
  const void* getDc = velmo::BindNative("", "GetDC");
  const void* startup = velmo::BindNative("GdiPlus.dll", "GdiplusStartup");
  std::printf("bound lstrlenA=%d MultiByteToWideChar=%d GetDC=%d GdiplusStartup=%d missing=%d\n",
              lstrlen != nullptr, mb2wc != nullptr, getDc != nullptr, startup != nullptr,
              velmo::BindNative("", "NoSuchEntry") != nullptr);

  static const char text[] = "mosalin";
  const Word one[] = {reinterpret_cast<Word>(text)};
  Show("lstrlenA(text)", velmo::InvokeNative(lstrlen, 1, one));
  const Word two[] = {reinterpret_cast<Word>(text), 99};
  Show("lstrlenA(text, extra)", velmo::InvokeNative(lstrlen, 2, two));
  Show("lstrlenA()", velmo::InvokeNative(lstrlen, 0, nullptr));

  // The size query of MultiByteToWideChar as the program makes it: code page
  // 0, flags 0, the text, -1, no output, capacity 0.
  const Word query[] = {0, 0, reinterpret_cast<Word>(text), static_cast<Word>(-1), 0, 0};
  Show("MultiByteToWideChar(query)", velmo::InvokeNative(mb2wc, 6, query));
  Show("MultiByteToWideChar(five words)", velmo::InvokeNative(mb2wc, 5, query));
  return 0;
}
