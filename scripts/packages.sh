# Debian packages the project needs to build, test, package and run. Sourced
# by the scripts in this folder. libftdi1-dev (which brings libusb-1.0-0-dev)
# and libgpiod-dev drive the FT232R USB cable and Linux GPIO lines,
# libusb-1.0-0-dev the USBasp (the Arduino's serial port needs termios only); zlib1g-dev
# gives the CRC-32 of the image checksums.
# desktop-file-utils, appstream, shared-mime-info and man-db check the
# installed files; dpkg-dev and file let cpack find the package's library
# dependencies.
QVX_PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev
  libjpeg-dev
  libftdi1-dev libgpiod-dev libusb-1.0-0-dev
  zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation fonts-dejavu-core
  xvfb xauth
  desktop-file-utils appstream shared-mime-info man-db dpkg-dev file
)

install_missing_packages() {
  local missing=() p
  for p in "${QVX_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
