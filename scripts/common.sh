# Shared by ./run and ./test: packages, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"

BUILD_PACKAGES=(cmake g++ make ccache qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc unixodbc-dev
                libgl-dev libxlsxwriter-dev pxlib-dev libshp-dev libcurl4-openssl-dev libsystemd-dev libmicrohttpd-dev
                libsodium-dev pkg-config)
RUN_PACKAGES=(xvfb xauth imagemagick qt6-translations-l10n)
TEST_PACKAGES=(postgresql python3-pyftpdlib python3-aiosmtpd curl odbc-postgresql poppler-utils clang-format sqlite3
               python3-openpyxl locales prometheus openssl apache2-utils
               chromium chromium-driver python3-selenium)
# The Debian package and its checks (scripts/package.sh): the unit's sandbox
# rebuilt with unshare, setpriv, findmnt and a seccomp filter, and a simulated point.
PACKAGE_PACKAGES=(dpkg-dev fakeroot lintian desktop-file-utils appstream systemd adduser util-linux mount
                  python3-seccomp python3-pyftpdlib)
# The operator's guide: its pictures (a window manager under Xvfb, the
# simulated points) and its PDF (scripts/docs.sh).
DOCS_PACKAGES=(xvfb xauth x11-utils imagemagick openbox python3-pyftpdlib qt6-translations-l10n)
# The fuzz targets and the sanitized build (scripts/fuzz.sh, scripts/sanitized.sh).
FUZZ_PACKAGES=(clang-15 libfuzzer-15-dev zlib1g-dev)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages that are not installed yet.
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    fi
}

# build [target...]: configures and builds the given targets (all when none).
build() {
    # ccache keeps rebuilds of unchanged sources cheap, also across work trees.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    cmake --build "$BUILD" -j"$(nproc)" "${targets[@]}"
}
