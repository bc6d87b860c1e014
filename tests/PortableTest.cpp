// The stand-ins for floating-point from_chars/to_chars (used where the
// standard library lacks them, as in the WebAssembly build) must give what
// the standard ones give: the OBJ reader's values and the writer's text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "Common/Portable.h"

namespace orv {
namespace {

TEST(Portable, CFormattingMatchesToCharsGeneralSix) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<uint64_t> bits;
    std::uniform_real_distribution<double> unit(-2.0, 2.0);
    auto same = [](double _v) {
        char a[32], b[32];
        const std::string viaStd(a, std::to_chars(a, a + 16, _v, std::chars_format::general, 6).ptr);
        const std::string viaC(b, formatGeneral6WithC(b, b + 16, _v));
        ASSERT_EQ(viaStd, viaC) << "value " << std::hexfloat << _v;
    };
    for (double v : {0.0, -0.0, 1.0, -1.0, 0.5, 1e-5, 1e-4, 123456.5, 999999.5, 9999995.0, 1e22, 5e-324,
                     HUGE_VAL, -HUGE_VAL, 0.1 + 0.2, 1.2345650000000001, 2.5e-5})
        same(v);
    for (int i = 0; i < 20000; ++i) {
        const double r = bitCast<double>(bits(rng));
            if (!std::isnan(r)) same(r);
        same(unit(rng));
        same(std::ldexp(unit(rng), static_cast<int>(i % 80) - 40));
    }
}

TEST(Portable, CParsingMatchesFromChars) {
    for (const char* text : {"0", "-0", "1.5", "3.14159265358979323846", "1e-300", "2.2250738585072011e-308",
                             "4.9406564584124654e-324", "1.7976931348623157e308", "0.000123456", "123456789012345678",
                             "7.0e-1", "1e400", "1e-400", "1.5x", "", "-", "."}) {
        const std::string s(text);
        double viaStd = -7, viaC = -7;
        const auto r = std::from_chars(s.data(), s.data() + s.size(), viaStd);
        const bool okStd = r.ec == std::errc() && r.ptr == s.data() + s.size();
        const bool okC = parseDoubleWithC(s.data(), s.data() + s.size(), viaC);
        // Underflow: from_chars reports it; strtod says ERANGE too, so both refuse.
        EXPECT_EQ(okStd, okC) << "'" << s << "'";
        if (okStd && okC) {
            EXPECT_EQ(bitCast<uint64_t>(viaStd), bitCast<uint64_t>(viaC)) << "'" << s << "'";
        }
    }
}

}  // namespace
}  // namespace orv
