#!/usr/bin/env bash
# Installs, from Debian's packages, whatever this project needs and the
# machine lacks. Options: --fuzz also installs clang for the libFuzzer targets;
# --wine also installs Wine for scripts/wine-check.sh; --bench also installs
# what scripts/bench.sh and profiling need; --msi also installs what
# scripts/package-msi.sh and scripts/wine-check-msi.sh need.
set -euo pipefail

packages=(
  cmake make g++ git
  libspdlog-dev libfmt-dev libtinyxml2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev  # halvex-sim's command line; JSON reports of halvex-sim and halvex-check
  g++-mingw-w64-x86-64-posix  # the Windows cross build
  dpkg-dev                    # unpacks tinyxml2's source package for that build
)
for option in "$@"; do
  case "$option" in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --wine) packages+=(wine64 python3) ;;  # 64-bit only: HalvexService.exe is PE32+; python3 reads the scenario
    --bench) packages+=(jq linux-perf) ;;  # the table's ratios; profiles of a figure that falls short
    --msi) packages+=(wixl msitools osslsigncode openssl python3) ;;  # build, edit, sign; a test certificate
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
echo "install-deps: done"
