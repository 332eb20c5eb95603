# Sourced by the tools: the Debian packages that building and running Quorrin need, and a
# function that installs whichever of a list are missing (with sudo when not root).

build_dependencies=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev qt6-translations-l10n libqt6svg6
  libcurl4-openssl-dev ca-certificates libsodium-dev libxcb1-dev
)

# May this user run apt-get through sudo? A password prompt is fine; a refusal is not.
may_use_sudo() {
  command -v sudo >/dev/null || return 1
  sudo -n true 2>/dev/null && return 0
  local groups
  groups=" $(id -nG) "
  [[ $groups == *" sudo "* || $groups == *" admin "* || $groups == *" wheel "* ]]
}

install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! may_use_sudo; then
      echo "Missing packages: ${missing[*]}; an administrator installs them with: apt-get install --no-install-recommends ${missing[*]}" >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
}
