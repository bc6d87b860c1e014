// Settings: the coding switches carried by the stream header. Readers create
// it with these defaults and the header then overwrites every field.
#pragma once

namespace orv {

struct Settings {
    static constexpr int CABAC = 0;  // the only entropy coder there is

    int nSL = 8;                 // spatial layers (layer chunks per frame record)
    int nTL = 4;                 // temporal layers; a group spans 2^(nTL-1) frames
    bool refFirstFrame = false;  // key frames reference frame 0 instead of the previous group
    int baseLayerPred = 1;       // layer 0 of later frames: 0 global, 1 local details
    int enhLayerPred = 0;        // 0: equal temporal filter weights per reference
    int entrType = CABAC;
};

}  // namespace orv
