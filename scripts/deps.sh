# Installs what a fresh Debian 12 machine lacks for building, testing and
# running the project. Sourced by the other scripts.
#
#   cmake, ninja-build, g++        the build
#   clang, libclang-rt-14-dev      the fuzz targets (libFuzzer) and its sanitizers
#   libgtest-dev, libgmock-dev     the test suite
#   libbenchmark-dev               bench/
#   qt6-base-dev                   the dialog (Qt 6 Widgets)
#   binutils                       objcopy makes the S-record test fixtures
#   srecord                        srec_cat, the peer the decoder is measured against
#   xvfb, x11-apps                 screenshots of the dialog
#   dpkg-dev, file                 the .deb: CPack runs dpkg-shlibdeps for its dependencies
#                                  and file to find the programs to scan
KRT_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
              libbenchmark-dev qt6-base-dev binutils srecord xvfb x11-apps dpkg-dev file)

krt_ensure_packages() {
  local missing=()
  local p
  for p in "${KRT_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}" </dev/null
}
