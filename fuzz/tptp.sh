#!/usr/bin/env bash
# Coverage-guided fuzzing of the TPTP reader under AddressSanitizer and
# UndefinedBehaviorSanitizer, with libFuzzer.
#
#   fuzz/tptp.sh [SECONDS] [libFuzzer options...]     # default: 60 seconds
#
# Builds the extension modules with clang's coverage instrumentation and both
# sanitizers into a virtual environment (build/fuzz/venv), the harness
# fuzz/tptp_fuzzer.cpp into build/fuzz/tptp_fuzzer, seeds a corpus with the
# problems and axiom files under ../shared/corpora (kept in build/fuzz/seeds;
# what the fuzzer adds goes to build/fuzz/corpus and is kept for the next
# run), then fuzzes for SECONDS. A finding stops the run with a non-zero
# status and its input in build/fuzz/crash-* (or leak-, timeout-, oom-);
# each one becomes a case in tests/test_tptp_fuzz_found.py.
#
# Environment: PYTHON (default python3) is the interpreter to fuzz inside.
set -euo pipefail
cd "$(dirname "$0")/.."
DURATION=${1:-60}
shift || true
OUT=build/fuzz
PYTHON=${PYTHON:-python3}
log() { printf '[fuzz %4ss] %s\n' "$SECONDS" "$*" >&2; }

# clang with its libFuzzer runtime, from Debian's archive when missing.
if ! command -v clang++ >/dev/null || [ ! -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
    log "installing clang and its libFuzzer runtime"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    apt-get install -y -q clang >/dev/null
    version=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
    apt-get install -y -q "libclang-rt-$version-dev" >/dev/null
fi

# The extensions, instrumented for coverage and checked by both sanitizers.
mkdir -p "$OUT"
if [ ! -x "$OUT/venv/bin/python" ]; then
    "$PYTHON" -m venv "$OUT/venv"
fi
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
log "building the instrumented extensions"
CC=clang CXX=clang++ "$OUT/venv/bin/pip" install -q . \
    --config-settings=build-dir="$OUT/cmake" \
    --config-settings=cmake.build-type=RelWithDebInfo \
    --config-settings=cmake.define.CMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $SANITIZE"

# The harness, linked with libFuzzer, the sanitizer runtimes and libpython.
read -r include libdir library < <("$OUT/venv/bin/python" -c '
import sysconfig as s
print(s.get_paths()["include"], s.get_config_var("LIBDIR"), s.get_config_var("LDLIBRARY"))')
if [ "$OUT/tptp_fuzzer" -ot fuzz/tptp_fuzzer.cpp ] || [ ! -x "$OUT/tptp_fuzzer" ]; then
    log "building the harness"
    library=${library#lib}
    clang++ -std=c++20 -fsanitize=fuzzer $SANITIZE -I"$include" fuzz/tptp_fuzzer.cpp \
        -L"$libdir" -l"${library%.so*}" -Wl,-rpath,"$libdir" -o "$OUT/tptp_fuzzer"
fi

# Seeds: every problem and axiom file, read as a problem (first byte 0).
if [ ! -d "$OUT/seeds" ]; then
    log "seeding from ../shared/corpora"
    mkdir -p "$OUT/seeds.new"
    find ../shared/corpora -type f \( -name '*.p' -o -name '*.ax' \) -size -64k -print0 |
        while IFS= read -r -d '' file; do
            { printf '\0'; cat "$file"; } >"$OUT/seeds.new/$(basename "$file")"
        done
    mv "$OUT/seeds.new" "$OUT/seeds"
fi
mkdir -p "$OUT/corpus"

log "fuzzing for ${DURATION}s"
FUZZ_PYTHON="$OUT/venv/bin/python" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$OUT/tptp_fuzzer" -max_total_time="$DURATION" -max_len=16384 -timeout=20 -rss_limit_mb=4096 \
    -detect_leaks=0 -dict=fuzz/tptp.dict -artifact_prefix="$OUT/" -print_final_stats=1 \
    "$@" "$OUT/corpus" "$OUT/seeds"
