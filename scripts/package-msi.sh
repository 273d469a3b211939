#!/usr/bin/env bash
# Builds the service's Windows Installer package, HalvexService-X.Y.Z.msi, from
# packaging/HalvexService.wxs with wixl: the windows build's HalvexService.exe
# and a DPRConfig.xml beside it, the service installed and started.
#
# Usage: scripts/package-msi.sh [--config FILE] [--version X.Y.Z] [--sign PFX]
#                               [--exe PATH] [--out DIR]
#   --config FILE    the DPRConfig.xml to install (default: examples/DPRConfig.xml)
#   --version X.Y.Z  the version to package; refused unless the executable's
#                    version resource carries it (default: the executable's)
#   --sign PFX       sign the executable, then the package, with this PKCS#12
#                    file (its password in SIGN_PASSWORD, empty by default)
#   --exe PATH       package this executable instead of build/windows/src/HalvexService.exe
#   --out DIR        where the package goes (default: build/msi)
# Prints the package's path and its product code (one per version).
set -euo pipefail
cd "$(dirname "$0")/.."

config="examples/DPRConfig.xml"
version=""
pfx=""
exe="build/windows/src/HalvexService.exe"
out="build/msi"
usage="usage: $0 [--config FILE] [--version X.Y.Z] [--sign PFX] [--exe PATH] [--out DIR]"
while [ $# -gt 0 ]; do
  case "$1" in
    --config) config="${2:?--config needs a file}"; shift 2 ;;
    --version) version="${2:?--version needs X.Y.Z}"; shift 2 ;;
    --sign) pfx="${2:?--sign needs a PKCS#12 file}"; shift 2 ;;
    --exe) exe="${2:?--exe needs a path}"; shift 2 ;;
    --out) out="${2:?--out needs a folder}"; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done

die() { echo "package-msi: $*" >&2; exit 1; }
for tool in wixl msibuild msiinfo python3; do
  command -v "$tool" >/dev/null || die "$tool is missing; run scripts/install-deps.sh --msi"
done
[ -z "$pfx" ] || command -v osslsigncode >/dev/null || die "osslsigncode is missing; run scripts/install-deps.sh --msi"
[ -f "$exe" ] || die "no $exe; run the windows build first (or give --exe)"
[ -f "$config" ] || die "no $config"
[ -z "$pfx" ] || [ -f "$pfx" ] || die "no $pfx"
python3 -c 'import sys, xml.etree.ElementTree as ET; ET.parse(sys.argv[1])' "$config" 2>/dev/null ||
  die "$config is not well-formed XML"

# The executable's version resource is the package's version (its fourth
# field 0): both come from the project version.
exe_version="$(python3 scripts/exe-version.py "$exe")" || die "cannot read the version of $exe"
[ -n "$version" ] || version="${exe_version%.0}"
[[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] && [ "${BASH_REMATCH[1]}" -le 255 ] &&
  [ "${BASH_REMATCH[2]}" -le 255 ] && [ "${BASH_REMATCH[3]}" -le 65535 ] ||
  die "version $version is not X.Y.Z (X and Y at most 255, Z at most 65535)"
[ "$exe_version" = "$version.0" ] ||
  die "$exe carries version $exe_version, not $version.0; build it with -DHALVEX_VERSION=$version"

# One product code per version, the same in every build of it (derived from
# the package's upgrade code and the version), so that a deployment tool can
# detect a version by its code.
upgrade_code="$(sed -n 's/.*UpgradeCode="\({[^}]*}\)".*/\1/p' packaging/HalvexService.wxs)"
product_code="$(python3 -c 'import sys, uuid
print("{%s}" % str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' "$upgrade_code" "$version")" ||
  die "no upgrade code in packaging/HalvexService.wxs"

mkdir -p "$out"
msi="$out/HalvexService-$version.msi"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/HalvexService.exe"
cp "$config" "$stage/DPRConfig.xml"
cp packaging/HalvexService.wxs "$stage/"

# A password goes through a file, not the command line others can read
# (osslsigncode reads no empty one: a PKCS#12 file without one needs none).
password=()
if [ -n "${SIGN_PASSWORD:-}" ]; then
  printf '%s' "$SIGN_PASSWORD" >"$stage/password"
  password=(-readpass "$stage/password")
fi
sign() {  # sign FILE: signs it in place with the PKCS#12 file
  osslsigncode sign -pkcs12 "$pfx" "${password[@]}" -n "Varnick Halvex Service" \
    -in "$1" -out "$1.signed" >/dev/null || die "osslsigncode cannot sign $1"
  mv "$1.signed" "$1"
}
[ -z "$pfx" ] || sign "$stage/HalvexService.exe"

# wixl takes the files' paths relative to the source, so everything is staged together.
wixl -a x64 -D Version="$version" -D ProductCode="$product_code" \
  -D Exe=HalvexService.exe -D Config=DPRConfig.xml \
  -o "$stage/package.msi" "$stage/HalvexService.wxs" || die "wixl failed"
# What wixl cannot write: the logging switch's component is installed only for
# LOGGING=1 or 0, and LOGGING passes on to the elevated part of an install.
msibuild "$stage/package.msi" -q "UPDATE Component SET Condition = 'LOGGING = \"1\" OR LOGGING = \"0\"' WHERE Component = 'LoggingSwitch'" &&
  msibuild "$stage/package.msi" -q "UPDATE Property SET Value = 'LOGGING;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'" ||
  die "msibuild cannot set the logging switch's condition"
msiinfo export "$stage/package.msi" Component | grep -q '^LoggingSwitch	.*	LOGGING = "1" OR LOGGING = "0"	' ||
  die "the logging switch's component has no condition"
[ -z "$pfx" ] || sign "$stage/package.msi"
mv "$stage/package.msi" "$msi"
echo "package-msi: $msi (version $version, product code $product_code${pfx:+, signed})"
