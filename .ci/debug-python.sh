#!/usr/bin/env bash
# Provide Debian's debug build of CPython 3.14 (python3.14-dbg), in which the
# interpreter checks reference counts and its own C API use, on a Debian 12
# machine, using nothing but Debian's package archive.
#
#   PY=$(.ci/debug-python.sh)          # progress on stderr, interpreter path on stdout
#   "$PY" -m venv .venv-debug
#
# Into $DEBUG_PY_PREFIX (default /opt/python3.14-dbg) goes first the release
# interpreter of the suite through ../shared/tools/python314.sh's binary route
# (standard library, private C library and loader), then the same version's
# debug interpreter, libpython, extension modules, headers and build
# configuration, unpacked beside it and pointed at the same private loader.
# The system's apt sources and libraries are never touched.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
SERIES=3.14
PREFIX=${DEBUG_PY_PREFIX:-/opt/python$SERIES-dbg}
SUITE=${PY314_SUITE:-sid}
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
PY="$PREFIX/bin/python${SERIES}d"

log() { printf '[python%sd %4ss] %s\n' "$SERIES" "$SECONDS" "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

works() {
    [ -x "$PY" ] && "$PY" -c 'import sys, venv, ensurepip, ssl; sys.exit(not hasattr(sys, "gettotalrefcount"))' \
        >/dev/null 2>&1 && [ ! -L "$PREFIX/include/python${SERIES}d/Python.h" ] &&
        grep -q '^#define Py_DEBUG 1' "$PREFIX/include/python${SERIES}d/pyconfig.h"
}

if works; then
    echo "$PY"
    exit 0
fi

# 1. The release interpreter of the suite, into the same prefix.
RELEASE=$(PY314_PREFIX="$PREFIX" PY314_METHOD=binary PY314_SUITE="$SUITE" \
    bash "$HERE/../../shared/tools/python314.sh") || die "the release interpreter could not be installed"
VERSION=$(sed -n 's/^version=//p' "$PREFIX/.installed-by-python314-sh")
[ -n "$VERSION" ] || die "no Debian version recorded in $PREFIX"
log "release interpreter $VERSION at $RELEASE"

# 2. The debug packages of the same version, through a private apt configuration.
exec </dev/null
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
WORK=$(mktemp -d "${TMPDIR:-/tmp}/python${SERIES}d.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
MIRROR=${PY314_MIRROR:-$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    2>/dev/null | grep -oE 'https?://[^ ]+/debian/?( |$)' | grep -v -- '-security' | head -n 1 | tr -d ' ' |
    sed 's#/$##' || true)}
[ -n "$MIRROR" ] || die "no Debian archive found in the apt sources; set PY314_MIRROR"
APTD="$WORK/apt"
mkdir -p "$APTD/lists/partial" "$APTD/cache/archives/partial" "$APTD/sources.d" "$APTD/preferences.d" "$WORK/debs"
printf 'deb [signed-by=%s] %s %s main\n' "$KEYRING" "$MIRROR" "$SUITE" >"$APTD/sources.list"
: >"$APTD/status"
if id -u _apt >/dev/null 2>&1; then chown _apt "$WORK/debs"; fi
suite_apt() {
    apt-get -q -o "Dir::Etc::SourceList=$APTD/sources.list" -o "Dir::Etc::SourceParts=$APTD/sources.d" \
        -o "Dir::Etc::Preferences=$APTD/preferences" -o "Dir::Etc::PreferencesParts=$APTD/preferences.d" \
        -o "Dir::State::Lists=$APTD/lists" -o "Dir::State::status=$APTD/status" -o "Dir::Cache=$APTD/cache" \
        -o "APT::Get::List-Cleanup=0" "$@"
}
log "reading the $SUITE package index"
suite_apt update >"$WORK/apt.log" 2>&1 || { tail -n 20 "$WORK/apt.log" >&2; die "cannot read the $SUITE index"; }
(cd "$WORK/debs" && suite_apt download "python$SERIES-dbg=$VERSION" "libpython$SERIES-dbg=$VERSION") \
    >>"$WORK/apt.log" 2>&1 || { tail -n 20 "$WORK/apt.log" >&2; die "python$SERIES-dbg $VERSION not in $SUITE"; }
ROOT="$WORK/root"
for deb in "$WORK"/debs/*.deb; do dpkg-deb -x "$deb" "$ROOT"; done
log "debug packages unpacked"

# 3. Beside the release interpreter: the debug one and everything it loads.
MA=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
STDLIB="$PREFIX/lib/python$SERIES"
cp -a "$ROOT/usr/bin/python${SERIES}d" "$PY"
cp -a "$ROOT/usr/lib/$MA/libpython${SERIES}d.so"* "$PREFIX/lib/"
cp -a "$ROOT/usr/lib/python$SERIES/lib-dynload/." "$STDLIB/lib-dynload/"
cp -a "$ROOT/usr/lib/python$SERIES"/_sysconfig* "$ROOT/usr/lib/python$SERIES"/build-details.d.* "$STDLIB/"
cp -a "$ROOT/usr/lib/python$SERIES/config-${SERIES}d-$MA" "$STDLIB/"
for f in "$STDLIB/config-${SERIES}d-$MA"/libpython*.so; do
    [ -L "$f" ] && ln -sfn "../../libpython${SERIES}d.so.1" "$f"
done
# Debian links each debug header to the release one; a compiler that follows
# the link would then read the release pyconfig.h beside it. Real copies keep
# the debug configuration in force.
rm -rf "$PREFIX/include/python${SERIES}d"
cp -a "$PREFIX/include/python$SERIES" "$PREFIX/include/python${SERIES}d"
cp "$ROOT/usr/include/$MA/python${SERIES}d/pyconfig.h" "$PREFIX/include/python${SERIES}d/pyconfig.h"
sed "s|^libdir=.*|libdir=\$(relocate \"/usr/lib\")|" "$ROOT/usr/bin/$MA-python${SERIES}d-config" >"$PY-config"
chmod 755 "$PY-config"

# The same private loader and libraries as the release interpreter.
patchelf --set-interpreter "$(patchelf --print-interpreter "$RELEASE")" --force-rpath \
    --set-rpath "$(patchelf --print-rpath "$RELEASE")" "$PY"
for f in "$STDLIB/lib-dynload"/*.cpython-*d-*.so; do
    patchelf --force-rpath --set-rpath "$PREFIX/lib/runtime" "$f"
done

# The build configuration recorded /usr; the prefix stands there now.
"$RELEASE" - "$PREFIX" "$MA" <<'PYEOF'
import glob, json, os, pprint, sys

prefix, multiarch = sys.argv[1], sys.argv[2]
stdlib = os.path.join(prefix, "lib", "python%d.%d" % sys.version_info[:2])
arch_lib = "/usr/lib/" + multiarch


def move(value):
    if isinstance(value, str):
        if value == arch_lib or value.startswith(arch_lib + "/"):
            return prefix + "/lib" + value[len(arch_lib):]
        if value == "/usr" or value.startswith("/usr/"):
            return prefix + value[4:]
    if isinstance(value, dict):
        return {key: move(item) for key, item in value.items()}
    if isinstance(value, list):
        return [move(item) for item in value]
    return value


KEYS = """prefix exec_prefix host_prefix host_exec_prefix BINDIR EXENAME INCLUDEDIR CONFINCLUDEDIR INCLUDEPY
CONFINCLUDEPY LIBDEST DESTLIB DESTSHARED BINLIBDEST MACHDESTLIB LIBDIR LIBPL LIBPC SCRIPTDIR WHEEL_PKG_DIR datarootdir
MANDIR""".split()
for path in glob.glob(os.path.join(stdlib, "_sysconfigdata_d_*.py")):
    if os.path.islink(path):
        continue
    namespace = {}
    with open(path) as source:
        exec(source.read(), namespace)
    data = namespace["build_time_vars"]
    data.update({key: move(data[key]) for key in KEYS if key in data})
    with open(path, "w") as target:
        target.write("build_time_vars = " + pprint.pformat(data, indent=4) + "\n")
for path in glob.glob(os.path.join(stdlib, "_sysconfig_vars_d_*.json")):
    with open(path) as source:
        data = json.load(source)
    data.update({key: move(data[key]) for key in KEYS if key in data})
    with open(path, "w") as target:
        json.dump(data, target, indent=2, sort_keys=True)
for path in glob.glob(os.path.join(stdlib, "build-details.d.*.json")):
    with open(path) as source:
        data = move(json.load(source))
    data["libpython"] = {key: value for key, value in data.get("libpython", {}).items() if os.path.exists(value)}
    with open(path, "w") as target:
        json.dump(data, target, indent=2)
PYEOF

works || { "$PY" -c 'import sys, venv, ensurepip, ssl' >&2 || true; die "the debug interpreter does not start"; }
log "debug interpreter ready: $("$PY" -c 'import sys; print(sys.version.split()[0], sys.abiflags)')"
echo "$PY"
