#!/usr/bin/env bash
# Builds the release packages and checks them as a user would meet them:
#   - the Debian package and the portable archive are built in build-release/ as a maker
#     builds them: with an update site (here one on loopback, served during the check) and
#     the public half of a minisign key pair made for this check and thrown away after it;
#   - the package's layout, its desktop entry (desktop-file-validate), its AppStream
#     metainfo (appstreamcli validate), its manual page (man, with warnings) and the package
#     itself (lintian: errors fail, warnings are shown);
#   - the installed Quorrin, started as an unprivileged user on the offscreen platform,
#     keeps its files in ~/.local/share/Quorrin/ and writes nothing into the install;
#     given a program directory it may write to, it uses that directory instead, both
#     through the bin/ launcher and from the unpacked portable archive;
#   - at each first start Quorrin starts the updater, which reads the loopback update page,
#     finds Quorrin up to date and ends by itself.
# Must run as root (it installs missing packages and changes to an unprivileged user).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-release
nobody=65534
source tools/packages.sh
packages=(
  "${build_dependencies[@]}"
  # packaging and its checks; CPack's dependency scan runs dpkg-shlibdeps and file
  dpkg-dev file lintian desktop-file-utils appstream man-db util-linux
  # the maker's signing key, and the loopback update site
  minisign python3
)

fail() {
  echo "release-check: $*" >&2
  exit 1
}

# A free port on loopback for the update site.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

build_packages() {
  echo "== building a release in $build_dir/"
  # Debian's own hardening and optimisation flags, as a package build would use, without -g:
  # the packaged programs are stripped, so their debug information would only cost build time.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORRIN_BUILD_TESTS=OFF \
    -DQUORRIN_UPDATE_BASE_URL="$site_url" -DQUORRIN_UPDATE_PUBLIC_KEY="$public_key" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
  cmake --build "$build_dir" -j 2
  rm -f "$build_dir"/quorrin_*.deb "$build_dir"/quorrin-*.tar.gz
  echo "== packaging with cpack (the .deb's dependencies are computed from the executables)"
  (cd "$build_dir" && cpack -G 'DEB;TGZ' >/dev/null)
}

# Processes started from the scratch directory (Quorrin, and an updater it may start), by id.
scratch_processes() {
  local link pid
  for link in /proc/[0-9]*/exe; do
    pid=${link#/proc/}
    pid=${pid%/exe}
    case "$(readlink "$link" 2>/dev/null)" in
      "$scratch"/*) echo "$pid" ;;
    esac
  done
}

updater_running() {
  local p
  for p in $(scratch_processes); do
    [ "$(basename "$(readlink "/proc/$p/exe" 2>/dev/null)")" = updater ] && return 0
  done
  return 1
}

end_scratch_processes() {
  local pids
  pids=$(scratch_processes)
  [ -z "$pids" ] && return 0
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null || true
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    pids=$(scratch_processes)
    [ -z "$pids" ] && return 0
    sleep 0.2
  done
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null || true
}

cleanup() {
  set +e
  if [ -n "${scratch:-}" ]; then
    end_scratch_processes
    rm -rf "$scratch"
  fi
  if [ -n "${site_pid:-}" ]; then
    kill "$site_pid" 2>/dev/null
    wait "$site_pid" 2>/dev/null
  fi
  if [ -n "${signing:-}" ]; then
    rm -rf "$signing"
  fi
}

as_nobody() {
  setpriv --reuid=$nobody --regid=$nobody --clear-groups "$@"
}

# start_quorrin <name> <executable>: runs it for about 3 s as the unprivileged user with a
# fresh home of its own, on the offscreen platform and without XDG_DATA_HOME, then ends it.
# Fails when it does not stay up. Leaves the home in $home.
start_quorrin() {
  local name=$1 executable=$2 log pid
  home=$scratch/home-$name
  log=$scratch/$name.log
  install -d -o $nobody -g $nobody -m 0700 "$home" "$home/runtime"
  as_nobody env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" \
    LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen "$executable" >"$log" 2>&1 &
  pid=$!
  sleep 3
  if ! kill -0 "$pid" 2>/dev/null; then
    cat "$log" >&2
    fail "$name: $executable did not stay up"
  fi
  # The updater that the first start launched finds Quorrin up to date and ends by itself.
  local tries
  for tries in $(seq 25); do
    updater_running || break
    [ "$tries" -eq 25 ] && fail "$name: the updater did not end by itself"
    sleep 0.2
  done
  end_scratch_processes
  wait "$pid" 2>/dev/null || true
}

snapshot() {
  find "$1" -printf '%P %y %m %u %s %T@ %l\n' | sort
}

check_layout() {
  local root=$1 programs=$2
  local expected actual
  expected=$({
    printf '%s\n' usr/bin/quorrin usr/share/applications/quorrin.desktop \
      usr/share/doc/quorrin/changelog.gz usr/share/doc/quorrin/copyright \
      usr/share/icons/hicolor/32x32/apps/quorrin.png \
      usr/share/icons/hicolor/scalable/apps/quorrin.svg \
      usr/share/man/man1/quorrin.1.gz "usr/share/metainfo/$metainfo_name"
    for p in $programs; do echo "usr/lib/quorrin/$p"; done
  } | sort)
  actual=$(cd "$root" && find . ! -type d -printf '%P\n' | sort)
  [ "$actual" = "$expected" ] || fail "package contents differ from the layout:
$(diff <(echo "$expected") <(echo "$actual") || true)"
  for p in $programs; do
    if [ ! -f "$root/usr/lib/quorrin/$p" ] || [ ! -x "$root/usr/lib/quorrin/$p" ]; then
      fail "usr/lib/quorrin/$p is not an executable file"
    fi
  done
  [ "$(readlink "$root/usr/bin/quorrin")" = ../lib/quorrin/quorrin ] ||
    fail "usr/bin/quorrin is not the relative link ../lib/quorrin/quorrin"
  file -b "$root/usr/share/icons/hicolor/32x32/apps/quorrin.png" | grep -q 'PNG image data, 32 x 32' ||
    fail "the 32x32 icon is not a 32x32 PNG"
}

[ "$(id -u)" -eq 0 ] || fail "run as root (installs packages, starts Quorrin as another user)"
install_missing "${packages[@]}"
trap cleanup EXIT

# The maker's part: a key pair (here without a password, and thrown away at the end) and the
# site the release is built for. The secret key would sign each installer (minisign -Sm).
signing=$(mktemp -d /tmp/quorrin-signing.XXXXXX)
minisign -G -W -p "$signing/minisign.pub" -s "$signing/minisign.key" >/dev/null
public_key=$(sed -n 2p "$signing/minisign.pub")
site_port=$(free_port)
site_url=http://127.0.0.1:$site_port/quorrin/
build_packages

deb=$(ls "$build_dir"/quorrin_*_*.deb)
tarball=$(ls "$build_dir"/quorrin-*.tar.gz)
version=$(dpkg-deb -f "$deb" Version)
programs="quorrin updater"
metainfo_name=$(basename "$(ls "$build_dir"/packaging/*.metainfo.xml)")
echo "== $deb ($(stat -c %s "$deb") bytes), $tarball ($(stat -c %s "$tarball") bytes)"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"

scratch=$(mktemp -d /tmp/quorrin-release.XXXXXX)
chmod 0755 "$scratch"
root=$scratch/root
dpkg -x "$deb" "$root"

# The update site: a page whose installer link has this release's revision, so the updater
# finds Quorrin up to date and ends without a word.
release=${version%%-*}
revision=$((10#${release##*.}))
mkdir -p "$signing/site/quorrin"
printf '<html><body><A href="setup_quorrin%s.exe">Quorrin</A></body></html>\n' "$revision" \
  >"$signing/site/quorrin/vb_addons.htm"
site_log=$signing/site.log
python3 -u -m http.server --bind 127.0.0.1 --directory "$signing/site" "$site_port" \
  >"$site_log" 2>&1 &
site_pid=$!
for _ in $(seq 50); do
  grep -q 'Serving HTTP' "$site_log" 2>/dev/null && break
  sleep 0.1
done

echo "== layout"
check_layout "$root" "$programs"
zcat "$root/usr/share/doc/quorrin/changelog.gz" | head -n 1 | grep -qF "quorrin ($version)" ||
  fail "the changelog's latest entry is not version $version"
top=$(basename "$tarball" .tar.gz)
portable=$(tar -tzf "$tarball" | grep -v '/$' | sort | xargs)
expected_portable=$(for p in $programs; do echo "$top/$p"; done | sort | xargs)
[ "$portable" = "$expected_portable" ] ||
  fail "the archive holds '$portable', expected '$expected_portable'"
echo "ok: $programs in usr/lib/quorrin, launcher, desktop entry, icons, doc; archive: $portable"

echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/quorrin.desktop" ||
  fail "the desktop entry is not valid"
echo "ok"

echo "== appstreamcli validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$metainfo_name" ||
  fail "the AppStream metainfo is not valid"
echo "ok"

echo "== manual page"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/quorrin.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has errors:
$warnings"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$root/usr/share/man/man1/quorrin.1.gz" | grep -q '^NAME' ||
  fail "the manual page shows no NAME section"
echo "ok"

echo "== lintian"
install -m 0644 "$deb" "$scratch/"
install -d -o $nobody -g $nobody "$scratch/lintian-home"
# lintian runs as the unprivileged user, from a directory that user may enter: a clone in a
# private home directory is not one.
status=0
report=$(cd "$scratch" && as_nobody env HOME="$scratch/lintian-home" \
  TMPDIR="$scratch/lintian-home" lintian --fail-on error --display-info \
  "$scratch/$(basename "$deb")" 2>&1) || status=$?
printf '%s\n' "$report"
if [ $status -ne 0 ]; then
  grep -q '^E: ' <<<"$report" && fail "lintian found errors"
  fail "lintian could not check the package (exit status $status; its output is above)"
fi
echo "ok: no errors"

echo "== installed: read-only program directory"
before=$(snapshot "$root")
start_quorrin installed "$root/usr/bin/quorrin"
[ -d "$home/.local/share/Quorrin" ] || fail "the user's data directory was not made"
[ "$(snapshot "$root")" = "$before" ] || fail "something changed in the installed tree"
echo "ok: ~/.local/share/Quorrin made, install tree unchanged"
grep -q '"GET /quorrin/vb_addons.htm ' "$site_log" ||
  fail "the installed Quorrin's updater did not read the update page at $site_url"
echo "ok: the updater read $site_url""vb_addons.htm and ended by itself"

echo "== installed: program directory the user may write to, through the launcher"
chown -R $nobody:$nobody "$root/usr/lib/quorrin"
start_quorrin launcher "$root/usr/bin/quorrin"
[ ! -e "$home/.local/share/Quorrin" ] ||
  fail "the launcher's program directory is not usr/lib/quorrin (user data directory made)"
echo "ok: usr/lib/quorrin used as is"

echo "== portable archive, unpacked by the user"
install -d -o $nobody -g $nobody "$scratch/portable"
install -m 0644 "$tarball" "$scratch/"
as_nobody tar -xzf "$scratch/$(basename "$tarball")" -C "$scratch/portable"
unpacked=$scratch/portable/$top
start_quorrin portable "$unpacked/quorrin"
[ ! -e "$home/.local/share/Quorrin" ] ||
  fail "the unpacked copy did not use its own directory (user data directory made)"
echo "ok: runs from $(basename "$unpacked"), its own directory used as is"

echo "release-check: all good"
