# Shared by the scripts: installs the Debian packages the build, the tests
# and the programs need, when any of them is missing.
ORV_PACKAGES=(build-essential cmake libgtest-dev libbenchmark-dev libcfitsio-dev libccfits-dev
  libcfitsio-bin fitsverify python3-astropy python3-numpy python3-scipy python3-photutils python3-sep)

orv_install_packages() {
  local missing=()
  for p in "${ORV_PACKAGES[@]}"; do
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
