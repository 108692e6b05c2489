// SPDX-License-Identifier: MIT
// KSTROKE_PORTABLE: frames drawn without the kernels picked by the processor's features
// are the same files, byte for byte, as those drawn with them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_test_support.h"

namespace {

TEST(PortablePath, FramesAreTheSameBytesWithAndWithoutTheVectorKernels) {
  const std::string scratch = NewFolder("portable");
  // Turned dabs at 8 and 16 bits, scaled ones (pressure), and soft 16-bit dabs at low
  // flow: each of the kernels picked at run time.
  nlohmann::json ellipse16 = nlohmann::json::parse(SlurpFile(Example("ellipse.json")));
  ellipse16["canvas"]["depth"] = 16;
  WriteText(scratch + "/ellipse16.json", ellipse16.dump());
  const std::string animations[] = {
      kKeys + " --frames 6",
      Example("ellipse.json") + " --write-on --frames 6",
      scratch + "/ellipse16.json --write-on --frames 5",
      Example("deep16.json") + " --write-on --frames 5",
  };
  const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                      __builtin_cpu_supports("avx512vl");
  const std::string vectorLine =
      !__builtin_cpu_supports("avx2") ? "[kstroke] Kernels: portable (this processor or build has no AVX2)\n"
      : avx512 ? "[kstroke] Kernels: AVX-512 and AVX2 (KSTROKE_PORTABLE=1 turns them off)\n"
               : "[kstroke] Kernels: AVX2 (KSTROKE_PORTABLE=1 turns them off)\n";
  int n = 0;
  for (const std::string& a : animations) {
    SCOPED_TRACE(a);
    const std::string fast = NewFolder("fast" + std::to_string(n)), portable = NewFolder("plain" + std::to_string(n));
    ++n;
    const ProgramRun f = RunKstroke("-v animate -q " + a + " -o " + fast, "env -u KSTROKE_PORTABLE");
    const ProgramRun p = RunKstroke("-v animate -q " + a + " -o " + portable, "KSTROKE_PORTABLE=1");
    ASSERT_EQ(f.status, 0) << f.err;
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(f.err.find(vectorLine), std::string::npos) << f.err.substr(0, 200);
    EXPECT_NE(p.err.find("[kstroke] Kernels: portable (KSTROKE_PORTABLE is set)\n"), std::string::npos)
        << p.err.substr(0, 200);
    EXPECT_GE(NamesIn(fast, "frame_").size(), 5u);
    EXPECT_EQ(FrameDifferences(fast, portable), "");
  }
}

}  // namespace
