# Sourced by the cross builds' deps.sh (browser, Windows).
# install_with_sources PACKAGE...: installs the Debian packages not yet installed (a package whose
# command another packager already provides, such as Node.js, counts as there) and makes sure
# `apt-get source` can fetch: source packages come from the same mirror as the binary ones (the
# main archive only: the security mirror's source pool is not always reachable, and these
# libraries only need to build).
install_with_sources() {
  local SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive

  local missing=() p
  for p in "$@"; do
    case $p in
      nodejs) command -v node >/dev/null && continue ;;
      npm) command -v npm >/dev/null && continue ;;
    esac
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done

  local need_update=0 src
  if ! grep -rqs '^\(Types:.*deb-src\|deb-src \)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    src=/etc/apt/sources.list.d/quorvanteplidusk-deb-src.sources
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      awk -v RS= -v ORS='\n\n' '!/security/' /etc/apt/sources.list.d/debian.sources \
        | sed 's/^Types: deb$/Types: deb-src/' | $SUDO tee "$src" >/dev/null
    else
      grep '^deb ' /etc/apt/sources.list | grep -v security | sed 's/^deb /deb-src /' | $SUDO tee "${src%.sources}.list" >/dev/null
    fi
    need_update=1
  fi

  if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
    $SUDO apt-get update -qq
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
