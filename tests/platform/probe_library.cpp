// Loaded by the platform tests through LoadLibraryA.
extern "C" __attribute__((visibility("default"))) int ProbeAnswer(int x) { return x + 42; }
