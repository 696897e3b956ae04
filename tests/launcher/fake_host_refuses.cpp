// A library whose GetNewSock answers 0 for every key.
#include <cstdint>
extern "C" void* GetNewSock(std::uint32_t) { return nullptr; }
