#pragma once

// Small system functions: threads and CPU pinning, local date and time numbers,
// and a few text and number helpers.

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace OXA {
namespace API {

using ThreadStart = void* (*)(void*);

// Starts a detached thread with system contention scope. policy and priority go
// into the attributes, but scheduling stays inherited from the creating thread,
// so they take effect only through the creator's own scheduling.
// Returns the thread id, 0 when the thread could not be started.
pthread_t CreateThread(ThreadStart start, void* arg, int priority, int policy);

// Pins the calling thread to cpu alone (0 to 1023; any other value pins to
// nothing and fails). On success the thread is named (cut to 15 characters;
// a null name leaves it unnamed) and true is returned; on failure the name is
// left unchanged.
bool BindThreadToCpu(int cpu, const char* name);

// As BindThreadToCpu with cpu taken modulo the processor count; reports both
// numbers when the pointers are given.
bool BindThreadToCpuModulo(int cpu, const char* name, int* processor_count, int* cpu_used);

int GetProcessorCount();

// Local time as hour * 10000 + minute * 100 + second.
int GetLocalTimeHHMMSS();
// Local date as year * 10000 + month * 100 + day.
int GetLocalDateYYYYMMDD();
// Writes "YYYYMMDD" into date and "HH:MM:SS" into time, each when given,
// cut to its buffer size (9 bytes hold either).
void GetLocalDateTimeText(char* date, size_t date_size, char* time, size_t time_size);

// "HH:MM:SS" -> HHMMSS: at most the first 8 characters, colons left out, read
// as a decimal number up to the first other character. Null or no digits -> 0.
int TimeTextToInt(const char* text);

// Copies n characters of text into out, blanks after the end of text; no NUL.
void CopyPadSpaces(char* out, const char* text, int n);

// Copies text up to its first blank (or NUL), at most out_size - 1 and
// text_len characters, and terminates out. Returns the characters copied.
size_t CopyUntilSpace(char* out, size_t out_size, const char* text, size_t text_len);

// Smallest power of two greater than n (2 for 0 and 1); 0 when it would not
// fit in 64 bits.
uint64_t NextPowerOfTwo(uint64_t n);

// Removes leading and trailing CR, LF and blanks in place; returns text.
char* TrimCrLfSpace(char* text);

// Removes the leading run of c in place; returns text.
char* StripLeadingChar(char* text, char c);

// 0 when a and b differ by at most 2^-23, 1 when a is greater, -1 otherwise.
int CompareDouble(double a, double b);

// iconv conversion of in_len bytes from one code page to another. out is
// cleared (*out_len bytes) first; on success *out_len becomes the bytes written.
// False when the conversion cannot be opened, the input is invalid or out is
// too small.
bool ConvertCodePage(const char* from, const char* to, const char* in, size_t in_len, char* out,
                     size_t* out_len);

}  // namespace API
}  // namespace OXA
