# Shared by the project's scripts: installs the Debian packages the build needs, when missing.

ZELK_PACKAGES=(g++ make cmake libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev)

ensure_packages() {
  local missing=()
  local package
  for package in "${ZELK_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
      return 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_jobs() { nproc 2>/dev/null || echo 2; }
