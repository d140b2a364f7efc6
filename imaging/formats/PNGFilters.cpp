#include "formats/PNGFilters.h"

namespace pngfilters {

TUndoFilter SelectUndoFilter() {
    static const TUndoFilter undoFilter = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? isa_avx2::UndoFilter : isa_baseline::UndoFilter;
    }();
    return undoFilter;
}

}  // namespace pngfilters
