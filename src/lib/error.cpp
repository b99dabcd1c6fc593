#include "lib/error.hpp"

namespace quorvel {

std::string ConversionError::text() const {
    switch (kind_) {
        case ErrorKind::InvalidWkt:
            return "invalid WKT: " + message_;
        case ErrorKind::InvalidWkb:
            return "invalid WKB: " + message_;
        case ErrorKind::UnsupportedGeometryType:
            break;
    }
    return "unsupported geometry type code: " + std::to_string(code_);
}

}  // namespace quorvel
