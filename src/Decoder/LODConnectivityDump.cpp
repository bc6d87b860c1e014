// The canonical text dump of a layered decomposition (see the header).
#include "Decoder/LODConnectivityDump.h"

#include <cstdio>

namespace orv {

std::string layeringDump(const LODConnectivity& _lod) {
    std::string out;
    char buf[64];
    for (size_t l = 0; l < _lod.vertexOrder_.size(); ++l) {
        const auto& order = _lod.vertexOrder_[l];
        std::snprintf(buf, sizeof buf, "L %zu %zu\n", l, order.size());
        out += buf;
        for (size_t k = 0; k < order.size(); ++k) {
            out += std::to_string(order[k]);
            for (const PredictorTerm& t : _lod.vertexPredictor_[l][k]) {
                std::snprintf(buf, sizeof buf, " %d %.17g", t.first, t.second);
                out += buf;
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace orv
