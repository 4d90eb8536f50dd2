#include "imaging/decoders.h"

namespace quenvale {

// Metafiles are drawn by Windows' own graphics; elsewhere they cannot be shown.
Picture DecodeMetafile(const uint8_t*, size_t) {
  throw PictureError("WMF/EMF: metafiles can only be shown by the Windows engine");
}

}  // namespace quenvale
