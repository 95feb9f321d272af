# Shared by the scripts: installs the Debian packages the build, the tests
# and the programs need, when any of them is missing.
ORV_PACKAGES=(build-essential cmake libgtest-dev libbenchmark-dev libcfitsio-dev libccfits-dev
  libcfitsio-bin fitsverify python3-astropy python3-numpy python3-scipy python3-photutils python3-sep
  clang-format strace)

# Further packages may be named as arguments (clang for the fuzz targets).
orv_install_packages() {
  local missing=()
  for p in "${ORV_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
  fi
}

# The number of parallel build and test jobs: ORV_JOBS when set (a positive whole
# number, for shared machines), else the number of processors.
orv_jobs() {
  local jobs=${ORV_JOBS:-$(nproc)}
  if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
    echo "ORV_JOBS must be a positive whole number, not '$jobs'" >&2
    return 1
  fi
  echo "$jobs"
}
