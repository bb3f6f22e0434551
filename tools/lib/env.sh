# Shared paths of the project's scripts. Sourced, not run.
QUILLON_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# Built dependencies and the Wine prefix live outside the checkout, so a fresh
# clone reuses them.
QUILLON_CACHE="${QUILLON_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillon_pc}"
# Bump when the way dependencies are built changes; it keys the cache.
QUILLON_DEPS_RECIPE="deps-1-$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null || echo none)"
QUILLON_MINGW_PREFIX="$QUILLON_CACHE/mingw-$QUILLON_DEPS_RECIPE"
QUILLON_WINEPREFIX="${QUILLON_WINEPREFIX:-$QUILLON_CACHE/wine-prefix}"
QUILLON_BUILD="${QUILLON_BUILD:-$QUILLON_ROOT/build}"
export QUILLON_ROOT QUILLON_CACHE QUILLON_DEPS_RECIPE QUILLON_MINGW_PREFIX QUILLON_WINEPREFIX QUILLON_BUILD
