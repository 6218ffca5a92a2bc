#include "codec/kvq1_format.h"

namespace rk {

KVQ1Geometry KVQ1GeometryFor(int sizeClass) {
    KVQ1Geometry g;
    if (sizeClass == 1) {
        g = KVQ1Geometry{1, 1920, 1080, 1088, 68, 120};
    } else if (sizeClass == 2) {
        g = KVQ1Geometry{2, 3840, 2160, 2160, 135, 240};
    }
    return g;
}

int NormaliseFrameRateCode(int code) { return code == 0 ? 50 : code; }

bool IsKnownFrameRateCode(int code) {
    switch (NormaliseFrameRateCode(code)) {
    case 25: case 29: case 30: case 50: case 59: case 60: return true;
    default: return false;
    }
}

bool FrameRateFraction(int code, int& numerator, int& denominator) {
    code = NormaliseFrameRateCode(code);
    if (!IsKnownFrameRateCode(code)) return false;
    if (code == 29 || code == 59) {
        numerator = code == 29 ? 30000 : 60000;
        denominator = 1001;
    } else {
        numerator = code;
        denominator = 1;
    }
    return true;
}

}  // namespace rk
