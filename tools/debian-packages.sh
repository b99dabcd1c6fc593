#!/usr/bin/env bash
# Debian's own packages, fetched without touching this machine's dpkg: apt-get runs
# with a configuration of its own, whose sources are the machine's Debian sources
# (the same mirrors and keyrings, read at run time), and whose package lists,
# downloads and list of installed packages (empty) are its own.  Every file is
# checked against the signed index, as in any install.
#
#   tools/debian-packages.sh unpack ARCH DIR PACKAGE...
#       the packages of another processor (Debian's name: arm64, s390x) and all
#       they depend on, unpacked with dpkg -x into DIR, for qemu-user to run from
#       (qemu-aarch64 -L DIR DIR/usr/bin/python3.11); again only when the set of
#       files changed
#   tools/debian-packages.sh source PACKAGE DIR
#       the files of a source package (PACKAGE may name its suite:
#       python3.11/bookworm) into DIR
#
# The lists and the files stay in $QUORVEL_CACHE/apt-<ARCH or source> (default
# ~/.cache/quorvel) for later runs, which fetch the lists again once a day.
set -euo pipefail

mode="$1"
shift
case "$mode" in
    unpack) arch="$1" dir="$2" type=deb name="$1"; shift 2 ;;
    source) package="$1" dir="$2" type=deb-src name=source arch="$(dpkg --print-architecture)" ;;
    *) echo "usage: $0 unpack ARCH DIR PACKAGE... | source PACKAGE DIR" >&2; exit 2 ;;
esac
cache="${QUORVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvel}/apt-$name"
mkdir -p "$cache/lists/partial" "$cache/archives/partial"
[ -f "$cache/status" ] || : >"$cache/status"

# The machine's Debian sources, of the one type and architecture: the deb822 file of
# Debian 12 when there is one, else the one-line entries of sources.list.
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e "s/^Types:.*/Types: $type/" -e "/^Types:/a Architectures: $arch" \
        /etc/apt/sources.list.d/debian.sources >"$cache/sources.sources.new"
    sources="$cache/sources.sources"
else
    sed -n -e "s/^deb \[\(.*\)\] /$type [\1 arch=$arch] /p" \
        -e "s/^deb \([^[]\)/$type [arch=$arch] \1/p" /etc/apt/sources.list >"$cache/sources.list.new"
    sources="$cache/sources.list"
fi
mv "$sources.new" "$sources"

apt=(apt-get -q -o "APT::Architecture=$arch" -o "APT::Architectures=$arch"
     -o "Dir::State::Lists=$cache/lists" -o "Dir::State::status=$cache/status"
     -o "Dir::Cache=$cache" -o "Dir::Cache::archives=$cache/archives"
     -o "Dir::Etc::SourceList=$sources" -o Dir::Etc::SourceParts=/dev/null
     -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts=/dev/null
     -o Acquire::Languages=none -o APT::Sandbox::User=root)

# One apt at a time in this cache (several work trees may share it).
exec 9>"$cache/lock"
flock 9
if [ -z "$(find "$cache/lists" -maxdepth 1 \( -name '*_Packages*' -o -name '*_Sources*' \) \
    -mmin -1440 | head -n 1)" ]; then
    "${apt[@]}" update >"$cache/update.log" 2>&1 || { cat "$cache/update.log" >&2; exit 1; }
fi

if [ "$mode" = source ]; then
    mkdir -p "$dir"
    (cd "$dir" && "${apt[@]}" source --download-only "$package") >"$cache/download.log" 2>&1 \
        || { cat "$cache/download.log" >&2; exit 1; }
    exit 0
fi

# The files of the closure, by the names apt gives them: NAME_VERSION_ARCH.deb with
# the epoch's colon written %3a.
files=$("${apt[@]}" install -s --no-install-recommends "$@" |
    sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) [^[]*\[\([a-z0-9]*\)\]).*/\1_\2_\3.deb/p' | sed 's/:/%3a/g' | sort)
[ -n "$files" ] || { echo "debian-packages: apt found nothing to fetch for $*" >&2; exit 1; }
for f in $files; do
    [ -f "$cache/archives/$f" ] && continue
    "${apt[@]}" install -y --download-only --no-install-recommends "$@" >"$cache/download.log" 2>&1 \
        || { cat "$cache/download.log" >&2; exit 1; }
    break
done
flock -u 9

if [ "$(cat "$dir/.packages" 2>/dev/null)" != "$files" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    for f in $files; do dpkg -x "$cache/archives/$f" "$dir"; done
    echo "$files" >"$dir/.packages"
fi
echo "$dir: $(echo "$files" | wc -l) packages of $arch"
