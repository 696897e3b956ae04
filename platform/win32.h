// The Windows kernel, USER and registry functions that Mosalin's launcher and
// native calls use, with their Windows names and C signatures, implemented on
// Linux by the platform library.
//
// Types follow the Windows data model on a 64-bit target: LONG, DWORD, BOOL
// and UINT are 32 bits; handles and pointers are machine words; a wide
// character is one UTF-16 code unit (char16_t, since wchar_t is 32 bits here).
//
// Texts ("A" functions) are in the ANSI code page, 936. Every function that
// fails sets the calling thread's last error (GetLastError).
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using CHAR = char;
using WCHAR = char16_t;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using INT_PTR = std::intptr_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using LPBYTE = std::uint8_t*;
using LPDWORD = std::uint32_t*;
using LPVOID = void*;
using LPCVOID = const void*;
using PVOID = void*;
using HANDLE = void*;
using REGSAM = DWORD;
using LSTATUS = LONG;

struct HINSTANCE__;
struct HKEY__;
struct HWND__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using HWND = HWND__*;

// The generic function pointer that GetProcAddress returns. It has no result
// (unlike Windows' INT_PTR) so that casting it to the entry's real type is the
// compiler's sanctioned generic cast and raises no warning.
extern "C" {
using FARPROC = void (*)();
}

// Macros, as other C headers (image codecs) define the same names with the same values.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
inline constexpr DWORD MAX_PATH = 260;

// Error codes (GetLastError, and the results of the registry functions).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

// Registry. A predefined root is a LONG sign-extended to the handle's width,
// as on 64-bit Windows; the platform also accepts the zero-extended form.
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)(LONG_PTR)(LONG)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)(LONG_PTR)(LONG)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)(LONG_PTR)(LONG)0x80000002)
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;

// Code pages and MultiByteToWideChar flags.
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_OEMCP = 1;
inline constexpr UINT CP_THREAD_ACP = 3;
inline constexpr UINT CP_GBK = 936;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr DWORD MB_PRECOMPOSED = 0x1;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;

// MessageBoxA styles and results.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x40;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0xF0;
inline constexpr int IDOK = 1;

extern "C" {

// kernel32
DWORD GetLastError(void);
void SetLastError(DWORD code);
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
LPSTR lstrcatA(LPSTR dest, LPCSTR src);
int lstrlenA(LPCSTR text);
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
[[noreturn]] void ExitProcess(UINT exitCode);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                        LPWSTR wide, int wideCount);
void RtlMoveMemory(void* dest, const void* src, SIZE_T length);

// advapi32 (registry)
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegCloseKey(HKEY key);

// user32
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

}  // extern "C"
