#!/usr/bin/env bash
# The Debian package: scripts/package builds it from this build; it holds
# exactly the files an installation needs, lintian finds no error or warning
# in it, and this machine meets its dependencies. Installed with dpkg into a
# scratch root, its mosalin-merge merges the sample tiles into the same file
# as the build's own, its mosalin starts through the link on the PATH and
# finds its runtime host beside itself, and purging it leaves the root as it
# was.
#
# Usage: package_test.sh SOURCE-DIR BUILD-DIR
set -euo pipefail
src=$1
build=$2
scratch=$(mktemp -d /tmp/mosalin-package-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# run LOG COMMAND...: runs the command with its output in LOG, shown if it fails.
run() {
  local log=$1
  shift
  local status=0
  "$@" >"$log" 2>&1 || status=$?
  if ((status)); then
    cat "$log" >&2
    echo "FAIL: $* ended with status $status" >&2
    exit 1
  fi
}

version=$(sed -n 's/^project(Mosalin VERSION \([0-9][0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)

# Building it names the package it made, where the README says.
deb=$(MOSALIN_BUILD_DIR="$build" "$src/scripts/package")
[[ "$deb" == "$build/mosalin_${version}_${arch}.deb" ]] || fail "package made as '$deb'"
[[ -f "$deb" ]] || { fail "no package at $deb"; exit 1; }

# Its files, and nothing else.
expected="./usr/bin/mosalin
./usr/bin/mosalin-merge
./usr/lib/mosalin/Nodata.dll
./usr/lib/mosalin/mosalin
./usr/lib/mosalin/mosalin-merge
./usr/lib/mosalin/velmo.vxr
./usr/share/applications/mosalin.desktop
./usr/share/doc/mosalin/changelog.gz
./usr/share/doc/mosalin/copyright"
for size in 128 16 256 32 48 64; do
  expected+=$'\n'"./usr/share/icons/hicolor/${size}x${size}/apps/mosalin.png"
done
expected+="
./usr/share/lintian/overrides/mosalin
./usr/share/man/man1/mosalin-merge.1.gz
./usr/share/man/man1/mosalin.1.gz"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | LC_ALL=C sort)
[[ "$files" == "$(LC_ALL=C sort <<<"$expected")" ]] ||
  fail "the package's files differ:"$'\n'"$(diff <(LC_ALL=C sort <<<"$expected") <(echo "$files"))"
links=$(dpkg-deb -c "$deb" | sed -n 's/.* \(\.\/usr\/bin\/[^ ]*\) -> \(.*\)/\1 \2/p')
[[ "$links" == $'./usr/bin/mosalin ../lib/mosalin/mosalin\n./usr/bin/mosalin-merge ../lib/mosalin/mosalin-merge' ]] ||
  fail "the links on the PATH are: $links"

# Its control fields: the project's version, computed library dependencies
# beside the font, which no library names.
[[ "$(dpkg-deb -f "$deb" Package)" == mosalin ]] || fail "package name"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "version $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
names=$(sed -e 's/ *([^)]*)//g' -e 's/ *[,|] */\n/g' <<<"$depends")
for needed in libc6 libstdc++6 libfltk1.3 libspng0 libjpeg62-turbo libtiff6 fonts-wqy-microhei; do
  grep -Fxq "$needed" <<<"$names" || fail "Depends lacks $needed: $depends"
done

# lintian: no error and no warning.
if ! lintian --fail-on error,warning --pedantic --info "$deb" >"$scratch/lintian.log" 2>&1; then
  cat "$scratch/lintian.log" >&2
  fail "lintian found errors or warnings"
fi

# This machine, which built it, meets every dependency: apt would install
# the package alone.
run "$scratch/apt.log" apt-get install --simulate --no-install-recommends "$deb"
installs=$(sed -n 's/^Inst \([^ ]*\).*/\1/p' "$scratch/apt.log")
[[ "$installs" == mosalin ]] || fail "apt would also install: $(echo $installs)"

# A scratch root with an empty package database.
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
listing() { (cd "$root" && find . -path ./var/lib/dpkg -prune -o -print | LC_ALL=C sort); }
before=$(listing)
dpkg_root() {
  local force=--force-depends
  [[ $(id -u) -eq 0 ]] || force+=,not-root
  dpkg --root="$root" --log=/dev/null "$force" "$@"
}
run "$scratch/install.log" dpkg_root -i "$deb"
[[ "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' mosalin)" == "install ok installed" ]] ||
  fail "dpkg does not list mosalin as installed"

# The installed tool: its version, and a merge identical to the build's own.
home="$scratch/home"
mkdir -p "$home"
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache"
[[ "$("$root/usr/bin/mosalin-merge" --version)" == "mosalin-merge $version" ]] ||
  fail "mosalin-merge --version: $("$root/usr/bin/mosalin-merge" --version)"
samples="$build/samples/2x"
run "$scratch/merge-built.log" "$build/bin/mosalin-merge" "$samples" "$scratch/built.bmp"
run "$scratch/merge-installed.log" "$root/usr/bin/mosalin-merge" "$samples" "$scratch/installed.bmp"
cmp -s "$scratch/built.bmp" "$scratch/installed.bmp" || fail "the installed merge wrote a different file"
[[ $(stat -c %s "$scratch/installed.bmp") -eq $((54 + 1024 * 1024 * 4)) ]] ||
  fail "the merged file has $(stat -c %s "$scratch/installed.bmp") bytes"

# The installed program, started through its link with no registry value:
# it finds the runtime host beside its real self.
printf 'close\n' >"$scratch/close.txt"
out=$(VELMO_SCRIPT="$scratch/close.txt" MOSALIN_NO_DIALOGS=1 "$root/usr/bin/mosalin" 2>"$scratch/mosalin.err") ||
  fail "the installed mosalin ended with status $?: $(cat "$scratch/mosalin.err")"
[[ "$out" == window-created ]] || fail "the installed mosalin showed: $out"
[[ ! -e "$XDG_CONFIG_HOME/mosalin/registry" ]] || fail "starting the program wrote a registry"

# Purged, the package leaves nothing behind, in the root or in dpkg's records.
run "$scratch/purge.log" dpkg_root --purge mosalin
after=$(listing)
[[ "$after" == "$before" ]] || fail "the purge left:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"
leftovers=$(find "$root/var/lib/dpkg/info" -name 'mosalin.*')
[[ -z "$leftovers" ]] || fail "dpkg's records of mosalin remain: $leftovers"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $deb: installs, merges, starts and is removed cleanly"
