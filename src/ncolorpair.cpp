#include "ncolorpair.h"

#include <curses.h>

#include <map>
#include <utility>

#include "ndraw.h"

namespace {

// Attributes keep the pair number in 8 bits: a larger number would come back as another pair.
constexpr int kMaxAttrPairs = 256;

std::map<std::pair<int, int>, int>& paircache()
{
    static std::map<std::pair<int, int>, int> cache;
    return cache;
}

} // namespace

int getcolorpair(int fg, int bg)
{
    auto& cache = paircache();
    auto it = cache.find({fg, bg});
    if (it != cache.end())
        return static_cast<int>(COLOR_PAIR(it->second));
    int n = static_cast<int>(cache.size()) + 1;
    int limit = COLOR_PAIRS < kMaxAttrPairs ? COLOR_PAIRS : kMaxAttrPairs;
    if (n >= limit)
        return 0;
    init_pair(static_cast<short>(n), static_cast<short>(fg), static_cast<short>(bg));
    cache.emplace(std::make_pair(fg, bg), n);
    return static_cast<int>(COLOR_PAIR(n));
}

int getbgcolor()
{
    return transparentBackground == 1 ? -1 : 0;
}

void resetcolorpairs()
{
    paircache().clear();
}
