# Sourced from the clone's root by test.sh, scripts/sanitize.sh and scripts/fuzz.sh: the compiler
# cache when it is installed, and a timer for each stage.
launcher=()
if command -v ccache > /dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Paths below the clone count relative to it, so a later clone in another folder reuses the cache.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi

# timed NAME COMMAND...: runs COMMAND and prints its wall and CPU time (GNU time, from the
# build packages), so a CI log shows where the time went.
timed() {
    local name=$1
    shift
    /usr/bin/time -f "$name took %e s (CPU: %U s user, %S s system)" "$@"
}
