// The GB18030 conversions against iconv, both ways: the input read as GB18030
// (Gb18030ToUtf8 against iconv GB18030 -> UTF-8) and as UTF-8 (Utf8ToGb18030 against iconv
// UTF-8 -> GB18030). Where iconv converts the whole input the conversion must give the same
// bytes; where iconv refuses it (an invalid sequence, or one the end cuts short) it must throw.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "api_common/code_common/xTools.h"
#include "support/Gb18030Locale.h"

namespace xt = OXA::API::xTools;

OXA_GB18030_LOCALE_LEAK_SUPPRESSIONS()

namespace {

void PrintHex(const char* what, const std::string& bytes) {
  std::fprintf(stderr, "%s:", what);
  for (unsigned char c : bytes) std::fprintf(stderr, " %02X", c);
  std::fprintf(stderr, "\n");
}

template <typename Convert>
void Compare(const char* from, const char* to, const std::string& in, Convert convert) {
  std::string expected;
  const int error = oxa_test::Iconv(from, to, in, expected);
  if (error == -1) std::abort();  // iconv without the code page: nothing to compare with
  std::string got;
  bool threw = false;
  try {
    got = convert(in);
  } catch (const std::range_error&) {
    threw = true;
  }
  if (threw == (error != 0) && (threw || got == expected)) return;
  std::fprintf(stderr, "%s -> %s differs from iconv (iconv error %d, conversion %s)\n", from, to, error,
               threw ? "threw" : "converted");
  PrintHex("input", in);
  if (error == 0) PrintHex("iconv", expected);
  if (!threw) PrintHex("conversion", got);
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string missing = oxa_test::PrepareGb18030Locale();
  if (!missing.empty()) {
    std::fprintf(stderr, "%s\n", missing.c_str());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  Compare("GB18030", "UTF-8", in, [](const std::string& s) { return xt::Gb18030ToUtf8(s); });
  Compare("UTF-8", "GB18030", in, [](const std::string& s) { return xt::Utf8ToGb18030(s); });
  return 0;
}
