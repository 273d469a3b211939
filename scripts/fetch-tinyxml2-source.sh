#!/usr/bin/env bash
# Fetches tinyxml2's Debian source package and leaves tinyxml2.cpp and
# tinyxml2.h in the given folder, for the Windows cross build.
# The machine's apt configuration is left untouched: a private sources list
# (the machine's own entries turned into source entries) and a private state
# folder are used for this one download.
set -euo pipefail

dest=${1:?usage: fetch-tinyxml2-source.sh DEST_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/etc/sources.list.d" "$work/state/lists/partial" "$work/cache/archives/partial" "$work/src"
touch "$work/etc/sources.list"

# deb822 files: the same repositories, as source entries.
for file in /etc/apt/sources.list.d/*.sources; do
  [ -e "$file" ] || continue
  sed -E 's/^Types:.*/Types: deb-src/' "$file" > "$work/etc/sources.list.d/$(basename "$file")"
done
# One-line files: every "deb" line also as a "deb-src" line.
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -e "$file" ] || continue
  sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$file" >> "$work/etc/sources.list"
done

apt_opts=(
  -o "Dir::Etc::SourceList=$work/etc/sources.list"
  -o "Dir::Etc::SourceParts=$work/etc/sources.list.d"
  -o "Dir::State=$work/state"
  -o "Dir::State::status=/var/lib/dpkg/status"
  -o "Dir::Cache=$work/cache"
  -o "APT::Sandbox::User=root"
  -o "Debug::NoLocking=1"
)

echo "fetching tinyxml2's source package into $dest"
apt-get "${apt_opts[@]}" -qq update
(cd "$work/src" && apt-get "${apt_opts[@]}" -qq source tinyxml2 >/dev/null)

source_dir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'tinyxml2-*' | head -n 1)
if [ -z "$source_dir" ] || [ ! -f "$source_dir/tinyxml2.cpp" ]; then
  echo "tinyxml2 source package has no tinyxml2.cpp" >&2
  exit 1
fi
mkdir -p "$dest"
cp "$source_dir/tinyxml2.cpp" "$source_dir/tinyxml2.h" "$dest/"
echo "tinyxml2 $(basename "$source_dir") ready in $dest"
